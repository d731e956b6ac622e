#include "app/TDBGridLista.h"

#include "app/CompanyListModel.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace qv {

TDBGridLista::TDBGridLista(QWidget *parent) : QTableView(parent)
{
    setObjectName(QStringLiteral("DBGridLista"));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setShowGrid(true);
    setTabKeyNavigation(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);  // a narrow column clips its text, as the ledger program's grids do
    setVerticalHeader(new TRowIndicator(this));
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void TDBGridLista::setCompanyList(CompanyListModel *model)
{
    list_ = model;
    setModel(model);
    setItemDelegate(new TMarkDelegate(this, model->list()));
    applyColumnWidths();
}

void TDBGridLista::applyColumnWidths()
{
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics plain(font());
    const QFontMetrics titles(horizontalHeader()->font());
    const auto fromDisplayWidth = [&](int column) {
        const int byField = plain.horizontalAdvance(QLatin1Char('0')) * TCompanyList::displayWidth(column) + 4;
        const QString title = model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        return std::max(byField, titles.horizontalAdvance(title) + 4);
    };
    setColumnWidth(TCompanyList::colArchiwizuj, 57);
    setColumnWidth(TCompanyList::colFirma, 205);
    setColumnWidth(TCompanyList::colKatalog, fromDisplayWidth(TCompanyList::colKatalog));
    setColumnWidth(TCompanyList::colInfo, fromDisplayWidth(TCompanyList::colInfo));
}

int TDBGridLista::currentRow() const { return currentIndex().isValid() ? currentIndex().row() : -1; }

void TDBGridLista::setCurrentRow(int row)
{
    if (!model() || row < 0 || row >= model()->rowCount()) {
        return;
    }
    const int column = currentIndex().isValid() ? currentIndex().column() : TCompanyList::colFirma;
    setCurrentIndex(model()->index(row, column));
    // The row that Space, Enter and restore act on must be in sight.
    scrollTo(currentIndex());
}

void TDBGridLista::keyPressEvent(QKeyEvent *event)
{
    // Both Enter keys are key code 13, whatever the modifiers.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        emit enterPressed();
    const QString text = event->text();
    if (text.size() == 1)
        emit characterTyped(text[0]);
    QTableView::keyPressEvent(event);
}

void TDBGridLista::mouseDoubleClickEvent(QMouseEvent *event)
{
    QTableView::mouseDoubleClickEvent(event);
    emit doubleClicked_();
}

void TDBGridLista::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QTableView::currentChanged(current, previous);
    static_cast<TRowIndicator *>(verticalHeader())->setCurrent(current.isValid() ? current.row() : -1);
}

TRowIndicator::TRowIndicator(QTableView *grid) : QHeaderView(Qt::Vertical, grid)
{
    setSectionResizeMode(QHeaderView::Fixed);
    setDefaultSectionSize(fontMetrics().height() + 4);
    setMinimumWidth(12);
    setHighlightSections(false);
    setSectionsClickable(true);
}

void TRowIndicator::setCurrent(int row)
{
    if (row == current_)
        return;
    current_ = row;
    viewport()->update();
}

QSize TRowIndicator::sectionSizeFromContents(int) const { return QSize(12, defaultSectionSize()); }

void TRowIndicator::paintEvent(QPaintEvent *event)
{
    QHeaderView::paintEvent(event);
    if (current_ < 0 || current_ >= count())
        return;
    const QRectF section(0, sectionViewportPosition(current_), viewport()->width(), sectionSize(current_));
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF c = section.center();
    QPainterPath arrow;
    arrow.moveTo(c.x() - 2.5, c.y() - 4);
    arrow.lineTo(c.x() + 2.5, c.y());
    arrow.lineTo(c.x() - 2.5, c.y() + 4);
    arrow.closeSubpath();
    painter.fillPath(arrow, Qt::black);
}

TMarkDelegate::TMarkDelegate(TDBGridLista *grid, const TCompanyList &list) : QStyledItemDelegate(grid), list_(list) {}

void TMarkDelegate::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.column() == TCompanyList::colArchiwizuj) {
        option->font.setBold(true);
        option->displayAlignment = Qt::AlignCenter;
    }
}

void TMarkDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const bool marked = index.row() < list_.count() && list_.isMarked(index.row());
    if (!marked || index.column() == TCompanyList::colArchiwizuj) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const bool selected = opt.state & QStyle::State_Selected;
    opt.state &= ~QStyle::State_Selected;
    opt.backgroundBrush = TDBGridLista::kMarkedBackground;
    const QColor text = selected ? TDBGridLista::kMarkedSelectedText : TDBGridLista::kMarkedText;
    opt.palette.setColor(QPalette::Text, text);
    opt.palette.setColor(QPalette::HighlightedText, text);
    painter->fillRect(opt.rect, TDBGridLista::kMarkedBackground);
    QStyledItemDelegate::paint(painter, opt, index);
}

}  // namespace qv
