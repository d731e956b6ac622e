#include "settings/formplacement.h"

#include "settings/inifile.h"
#include "settings/settingsfile.h"

#include <QEvent>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QStringList>
#include <QWidget>
#include <QtDebug>

#include <algorithm>
#include <exception>

namespace qv {

namespace {

constexpr Qt::WindowStates kSizeStates = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;

QStringList splitWords(const QString &text)
{
    static const QRegularExpression separators(QStringLiteral("[, ]+"));
    return text.split(separators, Qt::SkipEmptyParts);
}

int word(const QStringList &words, int index, int defaultValue)
{
    if (index >= words.size())
        return defaultValue;
    return ParseDecimal(words[index]).value_or(defaultValue);
}

QString rectText(const QRect &r)
{
    // Right and bottom lie just outside the rectangle, as the platform counts them.
    return QStringLiteral("%1,%2,%3,%4").arg(r.left()).arg(r.top()).arg(r.left() + r.width()).arg(r.top() + r.height());
}

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
    return IniFileName.isEmpty() ? DefaultSettingsFileName() : IniFileName;
}

QString TFormPlacement::screenKey(const QString &key, QScreen *screen)
{
    const QSize size = screen ? screen->geometry().size() : QSize();
    return QStringLiteral("%1(%2x%3)").arg(key).arg(size.width()).arg(size.height());
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
        IniFile ini(iniFileName());
        if (ini.ReadInteger(IniSection, QStringLiteral("FormVersion"), 0) >= Version) {
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

    const int flags = ini.ReadInteger(IniSection, QStringLiteral("Flags"), currentFlags);
    auto readPos = [&](const QString &key) {
        const QString sized = ini.ReadString(IniSection, screenKey(key, scr), QString());
        return sized.isEmpty() ? ini.ReadString(IniSection, key, QString()) : sized;
    };
    // The minimised and maximised positions are read only to tell whether a
    // placement was saved: Qt gives no way to set them.
    const QString minMax = readPos(QStringLiteral("MinMaxPos"));
    const QStringList norm = splitWords(readPos(QStringLiteral("NormPos")));
    const int ppi = ini.ReadInteger(IniSection, QStringLiteral("PixelsPerInch"), pixelsPerInch(scr));

    if ((minMax.isEmpty() && norm.isEmpty()) || ppi != pixelsPerInch(scr))
        return;
    const int left = word(norm, 0, current.left());
    const int top = word(norm, 1, current.top());
    const int right = word(norm, 2, current.left() + current.width());
    const int bottom = word(norm, 3, current.top() + current.height());
    if (left >= right)
        return;

    restoredFlags_ = flags;
    const QRect rect = keepOnScreen(QRect(left, top, right - left, std::max(0, bottom - top)), scr);
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
    switch (ini.ReadInteger(IniSection, QStringLiteral("ShowCmd"), 0)) {
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
    const QString name = ini.ReadString(IniSection, QStringLiteral("ActiveControl"), QString()).trimmed();
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
        IniFile ini(iniFileName());
        ini.WriteInteger(IniSection, QStringLiteral("FormVersion"), Version);
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
    QScreen *scr = screen();
    QRect normal = owner_->normalGeometry();
    if (!normal.isValid())
        normal = owner_->geometry();
    const bool minimized = owner_->isMinimized();
    const bool maximized = owner_->isMaximized();
    const int showCmd = minimized ? kShowMinimized : maximized ? kShowMaximized : kShowNormal;
    const QString minMax = QString::fromLatin1(kNoMinMaxPos);
    const QString norm = rectText(normal);

    ini.WriteInteger(IniSection, QStringLiteral("Flags"), minimized && maximized ? kRestoreToMaximized : 0);
    ini.WriteInteger(IniSection, QStringLiteral("ShowCmd"), showCmd);
    ini.WriteInteger(IniSection, QStringLiteral("PixelsPerInch"), pixelsPerInch(scr));
    writeText(ini, screenKey(QStringLiteral("MinMaxPos"), scr), minMax);
    writeText(ini, QStringLiteral("MinMaxPos"), minMax);
    writeText(ini, screenKey(QStringLiteral("NormPos"), scr), norm);
    writeText(ini, QStringLiteral("NormPos"), norm);
    ini.WriteString(IniSection, QStringLiteral("Visible"), destroying ? QStringLiteral("1") : QStringLiteral("0"));
}

void TFormPlacement::restoreMore(IniFile &) {}

void TFormPlacement::saveMore(IniFile &) {}

QString TFormPlacement::quoteForWrite(const QString &value)
{
    if (value.isEmpty())
        return value;
    const QChar first = value.front();
    const QChar last = value.back();
    if ((first == QLatin1Char('"') && last == QLatin1Char('"')) ||
        (first == QLatin1Char('\'') && last == QLatin1Char('\'')))
        return QLatin1Char('"') + value + QLatin1Char('"');
    return value;
}

void TFormPlacement::writeText(IniFile &ini, const QString &key, const QString &value) const
{
    ini.WriteString(IniSection, key, quoteForWrite(value));
}

}  // namespace qv
