#include "app/CompanyListModel.h"

#include "app/AppInteraction.h"

namespace qv {

CompanyListModel::CompanyListModel(TCompanyList &list, QObject *parent) : QAbstractTableModel(parent), list_(list)
{
    list_.addObserver(this);
}

CompanyListModel::~CompanyListModel() { list_.removeObserver(this); }

void CompanyListModel::marksChanged(int first, int last)
{
    emit dataChanged(index(first, 0), index(last, TCompanyList::ColumnCount - 1));
}

int CompanyListModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : list_.count(); }

int CompanyListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : TCompanyList::ColumnCount;
}

QVariant CompanyListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= list_.count())
        return {};
    if (role == Qt::DisplayRole)
        return Q(list_.cellText(index.row(), index.column()));
    if (role == Qt::TextAlignmentRole)
        return index.column() == TCompanyList::colArchiwizuj ? int(Qt::AlignCenter)
                                                             : int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

QVariant CompanyListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return Q(TCompanyList::columnTitle(section));
    if (orientation == Qt::Vertical && role == Qt::DisplayRole)
        return QString();  // the row indicator column shows no numbers
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags CompanyListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;  // never editable
}

}  // namespace qv
