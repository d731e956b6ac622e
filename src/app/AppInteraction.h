// The program's own interaction: Qt message boxes and dialogs over the
// program's windows, log windows of its own kind, the system beep, and the
// regional formats as Qt knows them. Texts cross from UTF-8 to Qt here.
#pragma once

#include "archive/Interaction.h"

#include <QString>

class QWidget;

namespace qv {

class AppInteraction : public Interaction {
public:
    // The window the dialogs belong to (the main window); none: top-level.
    void setDialogParent(QWidget *parent) { parent_ = parent; }

    LogWindow *openLogWindow() override;
    MsgResult message(const MessageRequest &request) override;
    void beep() override;
    void processEvents() override;
    std::optional<std::string> browseFolder(const std::string &prompt, const std::string &startFolder) override;
    std::optional<std::string> openFile(const OpenFileRequest &request) override;
    std::string regionalDate(int year, int month, int day) override;
    std::string regionalTime(int hour, int minute, int second) override;

private:
    QWidget *parent_ = nullptr;
};

// Creates a log window and makes it the program-wide newest one.
LogWindow *OpenLogWindow();

// A date and a time of day in the formats Qt knows the user by (the
// window's listing).
std::string QtRegionalDate(int year, int month, int day);
std::string QtRegionalTime(int hour, int minute, int second);

// UTF-8 of the layers below and Qt's strings, both ways.
inline QString Q(const std::string &utf8) { return QString::fromStdString(utf8); }
inline std::string U(const QString &text) { return text.toStdString(); }

}  // namespace qv
