// What files.cpp shares with the file layer of each system (files_posix.cpp,
// files_windows.cpp) and its neighbours in this folder; not for use outside it.
#pragma once

#include "platform/files.h"

#include <cstdint>
#include <random>
#include <string>

namespace qv::fileimpl {

constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000LL;  // 1970-01-01 in 100 ns since 1601
constexpr std::int64_t kTicksPerSecond = 10000000LL;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b);
// Civil date (proleptic Gregorian) of a day counted from 1970-01-01.
void CivilFromDays(std::int64_t z, std::int64_t &y, unsigned &m, unsigned &d);
// The system's code for an argument out of range (EINVAL, ERROR_INVALID_PARAMETER).
extern const int kInvalidArgument;
// For the unique parts of new names.
std::mt19937 &RandomEngine();
// folder, its separator and prefix, then eight random hexadecimal digits.
std::string UniqueCandidate(const std::string &folder, const std::string &prefix);
// Path texts equal as the file system compares names (each system's file).
bool SamePathText(const std::string &a, const std::string &b);

// Asks the system to begin writing a closed file's data to the disk without
// waiting for it; nothing where the system has no such call.
void StartWriteback(const std::string &path);

#ifdef _WIN32
// UTF-8 to and from the UTF-16 of the wide calls.
std::wstring Wide(const std::string &s);
std::string Narrow(const wchar_t *w);
#else
// A new descriptor moved above 0..2: callers treat 0 as "no file", and a
// file must never land on a standard stream. Closes fd; -1 on failure.
int KeepClearOfStandardStreams(int fd);
#endif

}  // namespace qv::fileimpl
