#include "register/CompanyList.h"

#include "platform/text.h"

#include <algorithm>

namespace qv {

TCompanyList::TCompanyList() { rows_.reserve(40); }

void TCompanyList::setRows(std::vector<CompanyRecord> rows)
{
    for (Observer *o : observers_)
        o->listAboutToBeReplaced();
    rows_.clear();
    rows_.reserve(std::max<std::size_t>(40, rows.size()));
    for (auto &r : rows)
        rows_.push_back(Row{std::move(r), std::nullopt});
    for (Observer *o : observers_)
        o->listReplaced();
}

void TCompanyList::clear() { setRows({}); }

std::string TCompanyList::firma(int row) const { return Cp1250ToUtf8(record(row).Firma); }

std::string TCompanyList::katalog(int row) const { return Cp1250ToUtf8(record(row).Katalog); }

std::string TCompanyList::info(int row) const { return Cp1250ToUtf8(record(row).Info); }

std::string TCompanyList::cellText(int row, int column) const
{
    switch (column) {
    case colArchiwizuj: return archiwizujText(archiwizuj(row));
    case colFirma: return firma(row);
    case colKatalog: return katalog(row);
    case colInfo: return info(row);
    default: return {};
    }
}

void TCompanyList::setArchiwizuj(int row, bool mark)
{
    rows_.at(static_cast<std::size_t>(row)).mark = mark;
    for (Observer *o : observers_)
        o->marksChanged(row, row);
}

void TCompanyList::setAllArchiwizuj(bool mark)
{
    if (rows_.empty())
        return;
    for (auto &r : rows_)
        r.mark = mark;
    for (Observer *o : observers_)
        o->marksChanged(0, count() - 1);
}

std::string TCompanyList::archiwizujText(const std::optional<bool> &mark)
{
    if (!mark)
        return "nie";
    return *mark ? "Tak" : "Nie";
}

std::string TCompanyList::columnTitle(int column)
{
    switch (column) {
    case colArchiwizuj: return "Archiwizuj";
    case colFirma: return "Firma";
    case colKatalog: return "Katalog";
    case colInfo: return "Info";
    default: return {};
    }
}

int TCompanyList::displayWidth(int column)
{
    switch (column) {
    case colArchiwizuj: return 11;
    case colFirma: return 37;
    case colKatalog: return 10;
    case colInfo: return 12;
    default: return 0;
    }
}

void TCompanyList::addObserver(Observer *observer) { observers_.push_back(observer); }

void TCompanyList::removeObserver(Observer *observer)
{
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

}  // namespace qv
