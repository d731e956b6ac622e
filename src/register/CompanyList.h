// The in-memory company list: one row per register record, in register
// order, with the mark "Archiwizuj" (null until first changed). Whatever
// shows the list (the grid of a window) follows it through an observer.
#pragma once

#include "register/CompanyRegister.h"

#include <optional>
#include <string>
#include <vector>

namespace qv {

class TCompanyList {
public:
    enum Column { colArchiwizuj = 0, colFirma, colKatalog, colInfo, ColumnCount };

    // Told of every change, in the order a view needs: before and after the
    // rows are replaced, and after marks of rows first..last changed.
    class Observer {
    public:
        virtual ~Observer() = default;
        virtual void listAboutToBeReplaced() {}
        virtual void listReplaced() {}
        virtual void marksChanged(int first, int last) = 0;
    };

    TCompanyList();

    // Replaces every row; every mark becomes null.
    void setRows(std::vector<CompanyRecord> rows);
    void clear();

    int count() const { return static_cast<int>(rows_.size()); }
    const CompanyRecord &record(int row) const { return rows_.at(static_cast<std::size_t>(row)).record; }
    // UTF-8, for display, messages, paths and cabinet names.
    std::string firma(int row) const;
    std::string katalog(int row) const;
    std::string info(int row) const;
    // The text of a column of a row as the grid shows it.
    std::string cellText(int row, int column) const;
    std::optional<bool> archiwizuj(int row) const { return rows_.at(static_cast<std::size_t>(row)).mark; }
    bool isMarked(int row) const { return archiwizuj(row).value_or(false); }
    void setArchiwizuj(int row, bool mark);
    // Sets every row's mark with one change notification.
    void setAllArchiwizuj(bool mark);

    // Text of the Archiwizuj field: "nie" while null, "Tak", "Nie".
    static std::string archiwizujText(const std::optional<bool> &mark);
    // The columns' titles, and the display width of each field in characters
    // (37, 10, 12 and 11).
    static std::string columnTitle(int column);
    static int displayWidth(int column);

    void addObserver(Observer *observer);
    void removeObserver(Observer *observer);

private:
    struct Row {
        CompanyRecord record;
        std::optional<bool> mark;
    };
    std::vector<Row> rows_;
    std::vector<Observer *> observers_;
};

}  // namespace qv
