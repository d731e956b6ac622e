#include "app/FormPlacement.h"

#include "app/AppInteraction.h"
#include "settings/inifile.h"
#include "settings/settingsfile.h"
#include "settings/storedvalues.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QStringList>
#include <QWidget>
#include <QtDebug>

#include <algorithm>
#include <exception>

namespace qv {

namespace {

constexpr Qt::WindowStates kSizeStates = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;

int pixelsPerInch(QScreen *screen)
{
    return screen ? qRound(screen->logicalDotsPerInch()) : 96;
}

// A rectangle that lies on no screen at all is moved onto the given one, so
// that a position saved on a monitor no longer there cannot hide the window.
QRect keepOnScreen(QRect r, QScreen *screen)
{
    if (!screen)
        return r;
    for (QScreen *s : QGuiApplication::screens())
        if (s->availableGeometry().intersects(r))
            return r;
    const QRect avail = screen->availableGeometry();
    r.moveLeft(std::max(avail.left(), std::min(r.left(), avail.left() + avail.width() - r.width())));
    r.moveTop(std::max(avail.top(), std::min(r.top(), avail.top() + avail.height() - r.height())));
    return r;
}

}  // namespace

TFormPlacement::TFormPlacement(QWidget *owner) : QObject(owner), owner_(owner)
{
    Q_ASSERT(owner);
    owner_->installEventFilter(this);
}

TFormPlacement::~TFormPlacement() = default;

void TFormPlacement::setMinMaxInfo(const TMinMaxInfo &info)
{
    minMaxInfo_ = info;
    owner_->setMinimumSize(std::max(0, info.MinTrackWidth), std::max(0, info.MinTrackHeight));
    owner_->setMaximumSize(info.MaxTrackWidth > 0 ? info.MaxTrackWidth : QWIDGETSIZE_MAX,
                           info.MaxTrackHeight > 0 ? info.MaxTrackHeight : QWIDGETSIZE_MAX);
}

QString TFormPlacement::iniFileName() const
{
    return IniFileName.isEmpty() ? Q(DefaultSettingsFileName()) : IniFileName;
}

ScreenInfo TFormPlacement::screenInfo(QScreen *screen)
{
    const QSize size = screen ? screen->geometry().size() : QSize();
    return {size.width(), size.height(), pixelsPerInch(screen)};
}

QScreen *TFormPlacement::screen() const
{
    QScreen *s = owner_->screen();
    return s ? s : QGuiApplication::primaryScreen();
}

void TFormPlacement::reportError(const QString &message) const
{
    if (errorReport_)
        errorReport_(message);
    else
        qWarning().noquote() << message;
}

bool TFormPlacement::eventFilter(QObject *watched, QEvent *event)
{
    // The show event comes before the window appears, so it opens at the
    // restored place. Spontaneous shows are the window system giving back a
    // minimised window, which is no new showing.
    if (watched == owner_ && event->type() == QEvent::Show && !event->spontaneous())
        restore();
    return QObject::eventFilter(watched, event);
}

void TFormPlacement::restore()
{
    if (!Active)
        return;
    saved_ = false;
    saveFailed_ = false;
    try {
        IniFile ini(U(iniFileName()));
        if (PlacementVersionFits(ini, U(IniSection), Version)) {
            if (Options & fpPosition)
                restorePlacement(ini);
            if (Options & fpState)
                restoreState(ini);
            if (Options & fpActiveControl)
                restoreActiveControl(ini);
            restoreMore(ini);
        }
        restored_ = true;
    } catch (const std::exception &e) {
        reportError(QString::fromUtf8(e.what()));
    }
}

void TFormPlacement::restorePlacement(IniFile &ini)
{
    QScreen *scr = screen();
    QRect current = owner_->normalGeometry();
    if (!current.isValid())
        current = owner_->geometry();
    const int currentFlags = owner_->isMinimized() && owner_->isMaximized() ? kRestoreToMaximized : 0;
    const std::optional<StoredPlacement> stored =
        ReadPlacement(ini, U(IniSection), screenInfo(scr),
                      {current.left(), current.top(), current.left() + current.width(), current.top() + current.height()},
                      currentFlags);
    if (!stored)
        return;
    restoredFlags_ = stored->flags;
    const PlacementRect &n = stored->normal;
    const QRect rect = keepOnScreen(QRect(n.left, n.top, n.right - n.left, std::max(0, n.bottom - n.top)), scr);
    const Qt::WindowStates state = owner_->windowState();
    if (state & kSizeStates) {
        // Qt sets the normal rectangle of a maximised window only through the
        // normal state; the window has not appeared yet, so nothing flickers.
        owner_->setWindowState(state & ~kSizeStates);
        owner_->setGeometry(rect);
        owner_->setWindowState(state);
    } else {
        owner_->setGeometry(rect);
    }
}

void TFormPlacement::restoreState(IniFile &ini)
{
    Qt::WindowStates state = owner_->windowState() & ~kSizeStates;
    switch (ReadShowCommand(ini, U(IniSection))) {
    case 2:
    case 6:
    case 7:
        state |= Qt::WindowMinimized;
        if (restoredFlags_ & kRestoreToMaximized)
            state |= Qt::WindowMaximized;
        break;
    case 3:
        state |= Qt::WindowMaximized;
        break;
    default:
        break;
    }
    if (state != owner_->windowState())
        owner_->setWindowState(state);
}

void TFormPlacement::restoreActiveControl(IniFile &ini)
{
    const QString name = Q(ini.ReadString(U(IniSection), "ActiveControl", std::string())).trimmed();
    if (name.isEmpty())
        return;
    for (QWidget *w : owner_->findChildren<QWidget *>()) {
        if (w->objectName().compare(name, Qt::CaseInsensitive) == 0 && w->focusPolicy() != Qt::NoFocus) {
            w->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}

void TFormPlacement::save(bool destroying)
{
    if (!restored_ || (destroying && (saved_ || saveFailed_)))
        return;
    try {
        IniFile ini(U(iniFileName()));
        savePlacement(ini, destroying);
        if (Options & fpActiveControl) {
            QWidget *focus = owner_->focusWidget();
            writeText(ini, QStringLiteral("ActiveControl"),
                      focus && focus != owner_ && owner_->isAncestorOf(focus) ? focus->objectName() : QString());
        }
        saveMore(ini);
        saved_ = true;
    } catch (const std::exception &e) {
        saveFailed_ = true;
        reportError(QString::fromUtf8(e.what()));
    }
}

void TFormPlacement::savePlacement(IniFile &ini, bool destroying)
{
    QRect normal = owner_->normalGeometry();
    if (!normal.isValid())
        normal = owner_->geometry();
    const bool minimized = owner_->isMinimized();
    const bool maximized = owner_->isMaximized();
    StoredPlacement placement;
    placement.flags = minimized && maximized ? kRestoreToMaximized : 0;
    placement.normal = {normal.left(), normal.top(), normal.left() + normal.width(), normal.top() + normal.height()};
    const int showCmd = minimized ? kShowMinimized : maximized ? kShowMaximized : kShowNormal;
    WritePlacement(ini, U(IniSection), Version, placement, showCmd, screenInfo(screen()), destroying);
}

void TFormPlacement::restoreMore(IniFile &) {}

void TFormPlacement::saveMore(IniFile &) {}

void TFormPlacement::writeText(IniFile &ini, const QString &key, const QString &value) const
{
    ini.WriteString(U(IniSection), U(key), QuoteForWrite(U(value)));
}

}  // namespace qv
