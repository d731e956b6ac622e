// The company grid: one row per company, whole-row selection, read only, a
// row indicator at the left, marked rows painted yellow.
#pragma once

#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTableView>

namespace qv {

class CompanyListModel;
class TCompanyList;

class TDBGridLista : public QTableView {
    Q_OBJECT
public:
    explicit TDBGridLista(QWidget *parent = nullptr);

    void setCompanyList(CompanyListModel *model);
    int currentRow() const;
    void setCurrentRow(int row);
    // Column widths: 57, 205, then from the fields' display widths.
    void applyColumnWidths();

    static inline const QColor kMarkedBackground{255, 255, 0};
    static inline const QColor kMarkedSelectedText{0, 0, 128};
    static inline const QColor kMarkedText{0, 0, 0};

signals:
    void enterPressed();                 // DBGridListaKeyDown
    void characterTyped(QChar character);  // DBGridListaKeyPress
    void doubleClicked_();               // DBGridListaDblClick

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;

private:
    CompanyListModel *list_ = nullptr;
};

// Paints the row indicator (a black triangle at the current row).
class TRowIndicator : public QHeaderView {
public:
    explicit TRowIndicator(QTableView *grid);
    void setCurrent(int row);

protected:
    void paintEvent(QPaintEvent *event) override;
    QSize sectionSizeFromContents(int logicalIndex) const override;

private:
    int current_ = -1;
};

// DBGridListaDrawColumnCell: yellow background, navy or black text in the
// columns after "Archiwizuj" of a marked row; "Archiwizuj" itself bold and
// centred in the grid's usual colours.
class TMarkDelegate : public QStyledItemDelegate {
public:
    TMarkDelegate(TDBGridLista *grid, const TCompanyList &list);
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;

private:
    const TCompanyList &list_;
};

}  // namespace qv
