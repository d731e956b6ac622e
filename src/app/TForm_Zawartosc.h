// The log window in which the long operations report, line by line.
#pragma once

#include "app/model/LogWindowModel.h"

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

// Shows a LogWindowModel: the operations write to the window as to the model.
class TForm_Zawartosc : public QWidget, public LogWindow, private LogWindowView {
    Q_OBJECT
public:
    explicit TForm_Zawartosc(QWidget *parent = nullptr);
    ~TForm_Zawartosc() override;

    // LogWindow
    void setCaptionFromTemplate(const std::string &archiveName) override { model_.setCaptionFromTemplate(archiveName); }
    void setCaption(const std::string &caption) override { model_.setCaption(caption); }
    void clearLines() override { model_.clearLines(); }
    void addLine(const std::string &line) override { model_.addLine(line); }
    void repaintPane() override { model_.repaintPane(); }
    void setStopVisible(bool visible) override { model_.setStopVisible(visible); }
    void setCloseEnabled(bool enabled) override { model_.setCloseEnabled(enabled); }
    bool stopPressed() const override { return model_.stopPressed(); }
    void showModeless() override { model_.showModeless(); }
    void setProgress(std::int64_t done, std::int64_t total) override { model_.setProgress(done, total); }
    void hideProgress() override { model_.hideProgress(); }
    void discard() override { model_.discard(); }

    QStringList lines() const;
    // What the STOP button does, for a stop asked for elsewhere (the main
    // window closing while the operation runs).
    void PressStop() { model_.pressStop(); }

    QFrame *Panel1 = nullptr;
    QFrame *Panel2 = nullptr;
    QPlainTextEdit *Memo_pliki = nullptr;
    QPushButton *bb_close = nullptr;
    QPushButton *bb_STOP = nullptr;
    QProgressBar *ProgressBar = nullptr;

    static constexpr int kMinWidth = 529;
    static constexpr int kMinHeight = 235;

    TFormPlacement *FormPlacement1 = nullptr;
    // Where a failing settings save or restore is reported (the main
    // window's general error report).
    static inline std::function<void(const QString &)> ErrorReport;

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // LogWindowView
    void captionChanged() override;
    void appendLines(const std::vector<std::string> &lines) override;
    void linesCleared() override;
    void buttonsChanged() override;
    void progressChanged() override;
    void showWindow() override;
    void paintPane() override;
    void startFlushTimer(int ms) override;
    void stopFlushTimer() override;
    void release() override;

    LogWindowModel model_;
    QTimer *flushTimer_ = nullptr;
};

// The newest log window; a window released since is seen as null.
extern QPointer<TForm_Zawartosc> Form_Zawartosc;

}  // namespace qv
