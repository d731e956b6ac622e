#include "app/TForm_Zawartosc.h"

#include "app/AppInteraction.h"
#include "app/AppKeepers.h"
#include "app/AppResources.h"
#include "app/FormPlacement.h"
#include "app/model/WindowTexts.h"

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

TForm_Zawartosc::TForm_Zawartosc(QWidget *parent) : QWidget(parent, Qt::Window), model_(*this)
{
    InitAppResources();
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("Form_Zawartosc"));
    setWindowTitle(Q(model_.caption()));
    setGeometry(kLogDesignLeft, kLogDesignTop, kMinWidth, kMinHeight);
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
    ProgressBar->setRange(0, LogWindowModel::kProgressMax);
    ProgressBar->setTextVisible(true);
    ProgressBar->hide();
    left->addWidget(ProgressBar);
    outer->addWidget(Panel1, 1);

    Panel2 = new QFrame(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFixedWidth(89);
    bb_close = new QPushButton(Q(text::kLogClose), Panel2);
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
    connect(flushTimer_, &QTimer::timeout, this, [this] { model_.flush(); });

    connect(bb_close, &QPushButton::clicked, this, [this] { close(); });
    connect(bb_STOP, &QPushButton::clicked, this, [this] { model_.pressStop(); });
}

TForm_Zawartosc::~TForm_Zawartosc() { FormPlacement1->save(true); }

void TForm_Zawartosc::captionChanged() { setWindowTitle(Q(model_.caption())); }

void TForm_Zawartosc::appendLines(const std::vector<std::string> &lines)
{
    QStringList text;
    text.reserve(static_cast<int>(lines.size()));
    for (const std::string &line : lines)
        text << Q(line);
    Memo_pliki->appendPlainText(text.join(QLatin1Char('\n')));
}

void TForm_Zawartosc::linesCleared() { Memo_pliki->clear(); }

void TForm_Zawartosc::buttonsChanged()
{
    bb_STOP->setVisible(model_.stopVisible());
    bb_STOP->setEnabled(model_.stopEnabled());
    bb_close->setEnabled(model_.closeEnabled());
}

void TForm_Zawartosc::progressChanged()
{
    ProgressBar->setValue(model_.progressValue());
    ProgressBar->setVisible(model_.progressVisible());
}

void TForm_Zawartosc::showWindow()
{
    show();
    raise();
    activateWindow();
}

void TForm_Zawartosc::paintPane() { Memo_pliki->viewport()->repaint(); }

void TForm_Zawartosc::startFlushTimer(int ms) { flushTimer_->start(ms); }

void TForm_Zawartosc::stopFlushTimer() { flushTimer_->stop(); }

void TForm_Zawartosc::release() { deleteLater(); }

QStringList TForm_Zawartosc::lines() const
{
    QStringList all;
    for (const std::string &line : model_.lines())
        all << Q(line);
    return all;
}

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
    if (!model_.mayClose()) {
        event->ignore();
        return;
    }
    FormPlacement1->save(false);
    event->accept();
}

}  // namespace qv
