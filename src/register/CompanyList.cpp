#include "register/CompanyList.h"

#include "platform/cp1250.h"

namespace qv {

TCompanyList::TCompanyList(QObject *parent) : QAbstractTableModel(parent)
{
    rows_.reserve(40);
}

void TCompanyList::setRows(std::vector<CompanyRecord> rows)
{
    beginResetModel();
    rows_.clear();
    rows_.reserve(std::max<std::size_t>(40, rows.size()));
    for (auto &r : rows)
        rows_.push_back(Row{std::move(r), std::nullopt});
    endResetModel();
}

void TCompanyList::clear() { setRows({}); }

QString TCompanyList::firma(int row) const { return FromCP1250(record(row).Firma); }

QString TCompanyList::katalog(int row) const { return FromCP1250(record(row).Katalog); }

void TCompanyList::setArchiwizuj(int row, bool mark)
{
    rows_.at(static_cast<std::size_t>(row)).mark = mark;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void TCompanyList::setAllArchiwizuj(bool mark)
{
    if (rows_.empty())
        return;
    for (auto &r : rows_)
        r.mark = mark;
    emit dataChanged(index(0, 0), index(count() - 1, ColumnCount - 1));
}

QString TCompanyList::archiwizujText(const std::optional<bool> &mark)
{
    if (!mark)
        return QStringLiteral("nie");
    return *mark ? QStringLiteral("Tak") : QStringLiteral("Nie");
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

int TCompanyList::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : count(); }

int TCompanyList::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TCompanyList::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    const Row &r = rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case colArchiwizuj: return archiwizujText(r.mark);
        case colFirma: return FromCP1250(r.record.Firma);
        case colKatalog: return FromCP1250(r.record.Katalog);
        case colInfo: return FromCP1250(r.record.Info);
        default: break;
        }
    }
    if (role == Qt::TextAlignmentRole)
        return index.column() == colArchiwizuj ? int(Qt::AlignCenter) : int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

QVariant TCompanyList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) {
        switch (section) {
        case colArchiwizuj: return QStringLiteral("Archiwizuj");
        case colFirma: return QStringLiteral("Firma");
        case colKatalog: return QStringLiteral("Katalog");
        case colInfo: return QStringLiteral("Info");
        default: break;
        }
    }
    if (orientation == Qt::Vertical && role == Qt::DisplayRole)
        return QString();  // the row indicator column shows no numbers
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags TCompanyList::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;  // never editable
}

}  // namespace qv
