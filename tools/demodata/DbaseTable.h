// The dBase III tables of the demo ledger, in plain C++: the demo data folder
// and the cabinet tests (which build for Windows without Qt) share them, so a
// table of the same records and seed is the same bytes everywhere.
#pragma once

#include <string>

namespace qv::demo {

// A dBase III table of `records` rows (95-byte records: number, date,
// account, a Windows-1250 description, debit and credit) drawn from `seed`.
std::string DbaseTable(int records, unsigned seed);

}  // namespace qv::demo
