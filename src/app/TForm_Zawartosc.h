// The log window in which the long operations report, line by line.
#pragma once

#include "archive/Interaction.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <QWidget>

class QPlainTextEdit;
class QPushButton;
class QProgressBar;
class QFrame;
class QTimer;

namespace qv {

class TFormPlacement;

class TForm_Zawartosc : public QWidget, public LogWindow {
    Q_OBJECT
public:
    explicit TForm_Zawartosc(QWidget *parent = nullptr);
    ~TForm_Zawartosc() override;

    // LogWindow
    void setCaptionFromTemplate(const std::string &archiveName) override;
    void setCaption(const std::string &caption) override;
    void clearLines() override;
    void addLine(const std::string &line) override;
    void repaintPane() override;
    void setStopVisible(bool visible) override;
    void setCloseEnabled(bool enabled) override;
    bool stopPressed() const override { return StopPressed; }
    void showModeless() override;
    void setProgress(std::int64_t done, std::int64_t total) override;
    void hideProgress() override;
    void discard() override;

    QStringList lines() const;
    // What the STOP button does, for a stop asked for elsewhere (the main
    // window closing while the operation runs).
    void PressStop() { bb_STOPClick(); }

    QFrame *Panel1 = nullptr;
    QFrame *Panel2 = nullptr;
    QPlainTextEdit *Memo_pliki = nullptr;
    QPushButton *bb_close = nullptr;
    QPushButton *bb_STOP = nullptr;
    QProgressBar *ProgressBar = nullptr;
    bool StopPressed = false;

    static constexpr int kMinWidth = 529;
    static constexpr int kMinHeight = 235;

    TFormPlacement *FormPlacement1 = nullptr;
    // Where a failing settings save or restore is reported (the main
    // window's general error report).
    static inline std::function<void(const QString &)> ErrorReport;

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private slots:
    void bb_closeClick();
    void bb_STOPClick();

private:
    bool FormCloseQuery() const;
    // Lines and bar values wait here and reach the widgets a few times a
    // second, so that a run of thousands of files is not spent drawing.
    void flushPending();
    bool paintDue() const;
    QString FCaptionTemplate;
    QStringList pendingLines_;
    int pendingValue_ = -1;
    QElapsedTimer lastPaint_;
    QTimer *flushTimer_ = nullptr;
    static constexpr int kPaintIntervalMs = 100;
};

// The newest log window; a window released since is seen as null.
extern QPointer<TForm_Zawartosc> Form_Zawartosc;

}  // namespace qv
