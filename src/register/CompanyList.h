// The in-memory company list behind the grid: one row per register record,
// in register order, with the mark "Archiwizuj" (null until first changed).
#pragma once

#include "register/CompanyRegister.h"

#include <QAbstractTableModel>
#include <optional>
#include <vector>

namespace qv {

class TCompanyList : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { colArchiwizuj = 0, colFirma, colKatalog, colInfo, ColumnCount };

    explicit TCompanyList(QObject *parent = nullptr);

    // Replaces every row; every mark becomes null.
    void setRows(std::vector<CompanyRecord> rows);
    void clear();

    int count() const { return static_cast<int>(rows_.size()); }
    const CompanyRecord &record(int row) const { return rows_.at(static_cast<std::size_t>(row)).record; }
    QString firma(int row) const;    // Unicode, for display and messages
    QString katalog(int row) const;  // Unicode, for paths and cabinet names
    std::optional<bool> archiwizuj(int row) const { return rows_.at(static_cast<std::size_t>(row)).mark; }
    bool isMarked(int row) const { return archiwizuj(row).value_or(false); }
    void setArchiwizuj(int row, bool mark);
    // Sets every row's mark with one change notification.
    void setAllArchiwizuj(bool mark);

    // Text of the Archiwizuj field: "nie" while null, "Tak", "Nie".
    static QString archiwizujText(const std::optional<bool> &mark);
    // Display width of each field in characters (37, 10, 12 and 11).
    static int displayWidth(int column);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    struct Row {
        CompanyRecord record;
        std::optional<bool> mark;
    };
    std::vector<Row> rows_;
};

}  // namespace qv
