// A scripted answerer for the user-interaction port: it records every message
// (text, caption, icon, buttons, default button), answers from a queue, and
// counts beeps. Dialog answers come from queues too.
#pragma once

#include "QtPrinters.h"
#include "platform/interaction.h"

#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace qv::test {

class ScriptedInteraction : public Interaction {
public:
    std::vector<MessageRequest> messages;
    std::deque<MsgResult> answers;  // for Yes/No questions; empty: the default button
    int beeps = 0;
    // Events recorded in order: "beep", "message:<text>", "browse", "open".
    QStringList trail;

    std::deque<std::optional<QString>> folderAnswers;  // empty: cancelled
    std::vector<QString> folderPrompts;
    std::vector<QString> folderStarts;
    std::deque<std::optional<QString>> openFileAnswers;
    std::vector<OpenFileRequest> openFileRequests;

    // Called inside message() before it answers, e.g. to inspect state.
    std::function<void(const MessageRequest &)> onMessage;
    std::function<LogWindow *()> logWindowFactory;
    // Runs at every processEvents(), e.g. to press a button mid-operation.
    std::function<void()> onProcessEvents;

    MsgResult message(QWidget *parent, const MessageRequest &request) override;
    void beep() override;
    void processEvents() override;
    std::optional<QString> browseFolder(QWidget *parent, const QString &prompt, const QString &startFolder) override;
    std::optional<QString> openFile(QWidget *parent, const OpenFileRequest &request) override;
    LogWindow *openLogWindow() override;

    QStringList messageTexts() const;
};

}  // namespace qv::test
