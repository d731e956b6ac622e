// The company list as the grid's Qt model: read only, following the list's
// changes, texts as the list gives them.
#pragma once

#include "register/CompanyList.h"

#include <QAbstractTableModel>

namespace qv {

class CompanyListModel : public QAbstractTableModel, private TCompanyList::Observer {
    Q_OBJECT
public:
    CompanyListModel(TCompanyList &list, QObject *parent = nullptr);
    ~CompanyListModel() override;

    TCompanyList &list() const { return list_; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    void listAboutToBeReplaced() override { beginResetModel(); }
    void listReplaced() override { endResetModel(); }
    void marksChanged(int first, int last) override;

    TCompanyList &list_;
};

}  // namespace qv
