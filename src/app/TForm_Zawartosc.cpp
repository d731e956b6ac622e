#include "app/TForm_Zawartosc.h"

#include "app/AppInteraction.h"
#include "app/AppKeepers.h"
#include "app/AppResources.h"
#include "app/FormPlacement.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QIcon>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace qv {

QPointer<TForm_Zawartosc> Form_Zawartosc;

TForm_Zawartosc::TForm_Zawartosc(QWidget *parent)
    : QWidget(parent, Qt::Window), FCaptionTemplate(QStringLiteral("Zawartość archiwum %1"))
{
    InitAppResources();
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("Form_Zawartosc"));
    setWindowTitle(QStringLiteral("Zawartość archiwum "));
    setGeometry(417, 262, kMinWidth, kMinHeight);
    setMinimumSize(kMinWidth, kMinHeight);
    FormPlacement1 = CreateFormPlacement1(this);
    FormPlacement1->setErrorReport([](const QString &message) {
        if (ErrorReport)
            ErrorReport(message);
    });

    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    auto *left = new QVBoxLayout(Panel1);
    left->setContentsMargins(3, 3, 3, 3);
    left->setSpacing(3);
    Memo_pliki = new QPlainTextEdit(Panel1);
    Memo_pliki->setObjectName(QStringLiteral("Memo_pliki"));
    QFont courier(QStringLiteral("Courier"), 8);
    courier.setStyleHint(QFont::TypeWriter);
    courier.setFixedPitch(true);
    if (!QFontInfo(courier).fixedPitch())
        courier = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    Memo_pliki->setFont(courier);
    Memo_pliki->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo_pliki->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo_pliki->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    left->addWidget(Memo_pliki);
    ProgressBar = new QProgressBar(Panel1);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setRange(0, 1000);
    ProgressBar->setTextVisible(true);
    ProgressBar->hide();
    left->addWidget(ProgressBar);
    outer->addWidget(Panel1, 1);

    Panel2 = new QFrame(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFixedWidth(89);
    bb_close = new QPushButton(QStringLiteral("Zamknij"), Panel2);
    bb_close->setObjectName(QStringLiteral("bb_close"));
    bb_close->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    bb_close->setGeometry(8, 8, 73, 25);
    bb_STOP = new QPushButton(Panel2);
    bb_STOP->setObjectName(QStringLiteral("bb_STOP"));
    bb_STOP->setIcon(QIcon(QStringLiteral(":/glyphs/stop.png")));
    bb_STOP->setIconSize(QSize(32, 33));
    bb_STOP->setGeometry(8, 144, 73, 49);
    bb_STOP->hide();
    outer->addWidget(Panel2);

    flushTimer_ = new QTimer(this);
    flushTimer_->setSingleShot(true);
    connect(flushTimer_, &QTimer::timeout, this, &TForm_Zawartosc::flushPending);

    connect(bb_close, &QPushButton::clicked, this, &TForm_Zawartosc::bb_closeClick);
    connect(bb_STOP, &QPushButton::clicked, this, &TForm_Zawartosc::bb_STOPClick);
}

TForm_Zawartosc::~TForm_Zawartosc() { FormPlacement1->save(true); }

void TForm_Zawartosc::setCaptionFromTemplate(const std::string &archiveName)
{
    setWindowTitle(FCaptionTemplate.arg(Q(archiveName)));
}

void TForm_Zawartosc::setCaption(const std::string &caption) { setWindowTitle(Q(caption)); }

void TForm_Zawartosc::clearLines()
{
    pendingLines_.clear();
    Memo_pliki->clear();
}

bool TForm_Zawartosc::paintDue() const { return !lastPaint_.isValid() || lastPaint_.elapsed() >= kPaintIntervalMs; }

void TForm_Zawartosc::flushPending()
{
    flushTimer_->stop();
    if (!pendingLines_.isEmpty()) {
        Memo_pliki->appendPlainText(pendingLines_.join(QLatin1Char('\n')));
        pendingLines_.clear();
    }
    if (pendingValue_ >= 0) {
        ProgressBar->setValue(pendingValue_);
        pendingValue_ = -1;
    }
    lastPaint_.restart();
}

void TForm_Zawartosc::addLine(const std::string &line)
{
    pendingLines_ << Q(line);
    if (paintDue())
        flushPending();
    else if (!flushTimer_->isActive())
        flushTimer_->start(kPaintIntervalMs);
}

void TForm_Zawartosc::repaintPane()
{
    if (!paintDue())
        return;  // the timer brings the lines in
    flushPending();
    Memo_pliki->viewport()->repaint();
}

void TForm_Zawartosc::setStopVisible(bool visible) { bb_STOP->setVisible(visible); }

void TForm_Zawartosc::setCloseEnabled(bool enabled) { bb_close->setEnabled(enabled); }

void TForm_Zawartosc::showModeless()
{
    flushPending();
    show();
    raise();
    activateWindow();
}

// The bar appears at once and reaches its end at once; between, it moves
// no more often than the lines come in.
void TForm_Zawartosc::setProgress(std::int64_t done, std::int64_t total)
{
    const int value = total > 0 ? static_cast<int>(std::min<std::int64_t>(done, total) * 1000 / total) : 1000;
    if (ProgressBar->isHidden() || value == ProgressBar->maximum() || paintDue()) {
        pendingValue_ = value;
        flushPending();
        ProgressBar->show();
        return;
    }
    if (value == ProgressBar->value())
        return;
    pendingValue_ = value;
    if (!flushTimer_->isActive())
        flushTimer_->start(kPaintIntervalMs);
}

void TForm_Zawartosc::hideProgress()
{
    pendingValue_ = -1;
    flushPending();
    ProgressBar->hide();
}

void TForm_Zawartosc::discard() { deleteLater(); }

QStringList TForm_Zawartosc::lines() const
{
    const QString text = Memo_pliki->toPlainText();
    QStringList shown = text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    return shown + pendingLines_;
}

void TForm_Zawartosc::bb_closeClick() { close(); }

void TForm_Zawartosc::bb_STOPClick()
{
    StopPressed = true;
    bb_STOP->setEnabled(false);
}

// A running operation keeps its window: while STOP shows, and while the close
// button is disabled, so no operation ever writes to a released window.
bool TForm_Zawartosc::FormCloseQuery() const { return !bb_STOP->isVisibleTo(this) && bb_close->isEnabled(); }

// Escape closes a finished window as "Zamknij" does; a running one keeps it.
void TForm_Zawartosc::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TForm_Zawartosc::closeEvent(QCloseEvent *event)
{
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    FormPlacement1->save(false);
    event->accept();
}

}  // namespace qv
