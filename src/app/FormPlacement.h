// The placement keeper of a Qt window: remembers its position, size and state
// in a section of the settings file (settings/placement.h says how).
//
// Wiring, in the window's constructor (the keeper is a child of the window):
//     auto *keeper = new qv::TFormPlacement(this);     // or a factory of keepers.h
//     keeper->setErrorReport([](const QString &m) { ... general error report ... });
// then
//  - showing the window restores (the keeper filters the window's show event,
//    so the window appears at the restored place);
//  - the window's closeEvent, once it has decided to accept the close, calls
//    keeper->save(false); a refused close saves nothing;
//  - the window's destructor calls keeper->save(true) first thing, which saves
//    only when nothing was saved since the last restore ("Visible" then 1).
// A keeper whose window was never shown saves nothing.
//
// Positions are those of the window's client area as Qt gives and takes them
// (QWidget::geometry(), normalGeometry() while maximised, setGeometry()), so a
// window comes back exactly where it was whatever the window manager's frame.
#pragma once

#include "settings/placement.h"

#include <QFlags>
#include <QObject>
#include <QRect>
#include <QString>

#include <functional>

class QScreen;
class QWidget;

namespace qv {

class IniFile;

enum PlacementOption {
    fpState = 0x1,         // normal, minimised, maximised
    fpPosition = 0x2,      // position and size
    fpActiveControl = 0x4  // the focused control, under the key "ActiveControl"
};
Q_DECLARE_FLAGS(PlacementOptions, PlacementOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(PlacementOptions)

// Size limits of the window in pixels; 0 means no limit. Not stored in the file.
// The track sizes become the widget's minimum and maximum size; the maximised
// place and size (MaxPos*, MaxSize*) are left to the window manager under Qt.
struct TMinMaxInfo {
    int MaxPosLeft = 0;
    int MaxPosTop = 0;
    int MaxSizeWidth = 0;
    int MaxSizeHeight = 0;
    int MinTrackWidth = 0;
    int MinTrackHeight = 0;
    int MaxTrackWidth = 0;
    int MaxTrackHeight = 0;
};

class TFormPlacement : public QObject {
    Q_OBJECT
public:
    using ErrorReport = std::function<void(const QString &message)>;

    explicit TFormPlacement(QWidget *owner);
    ~TFormPlacement() override;

    QWidget *owner() const { return owner_; }

    // Settings; set them before the window is first shown.
    QString IniFileName;  // empty: DefaultSettingsFileName()
    QString IniSection;
    PlacementOptions Options = PlacementOptions(fpState) | fpPosition;
    int Version = 0;
    bool Active = true;

    const TMinMaxInfo &MinMaxInfo() const { return minMaxInfo_; }
    // Applies the limits to the window at once (as its minimum and maximum size).
    void setMinMaxInfo(const TMinMaxInfo &info);

    // Where failures of restore and save are reported; without one they go to
    // the Qt message log.
    void setErrorReport(ErrorReport report) { errorReport_ = std::move(report); }

    // The file this keeper works on.
    QString iniFileName() const;

    // Restores the window from the file; runs on every show of the window that
    // is not the window system's own (a minimised window coming back). Failures
    // go to the error report.
    void restore();
    // Saves into the file: at an allowed close (destroying false), or while the
    // window is being destroyed (destroying true: only when nothing was saved
    // since the last restore). Skipped while nothing was restored. Failures go
    // to the error report.
    void save(bool destroying);

    bool restored() const { return restored_; }
    bool saved() const { return saved_; }

    // The screen as the settings file names it ("NormPos(1024x768)").
    static ScreenInfo screenInfo(QScreen *screen);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

    // The extra steps of a keeper with more to keep; they run after the
    // placement, on the same file.
    virtual void restoreMore(IniFile &ini);
    virtual void saveMore(IniFile &ini);

    void reportError(const QString &message) const;
    void writeText(IniFile &ini, const QString &key, const QString &value) const;

private:
    void restorePlacement(IniFile &ini);
    void restoreState(IniFile &ini);
    void restoreActiveControl(IniFile &ini);
    void savePlacement(IniFile &ini, bool destroying);
    QScreen *screen() const;

    QWidget *owner_;
    TMinMaxInfo minMaxInfo_;
    ErrorReport errorReport_;
    bool restored_ = false;
    bool saved_ = false;
    // A save since the last restore failed and was reported: the destruction
    // that follows a failed save at close would only fail and report again.
    bool saveFailed_ = false;
    int restoredFlags_ = 0;
};

}  // namespace qv
