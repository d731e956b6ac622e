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
    // Set, it holds the work of each runBlocking() back and calls this on the
    // window's thread between passes of events (the real ones, through the
    // real runBlocking) with the number of the call (1, 2, ...), until it
    // returns true; then the work runs. A test sees what the user can do
    // while a stage of an operation waits on the disk.
    std::function<bool(int call)> whileBlocked;
    int blockingCalls = 0;

    MsgResult message(QWidget *parent, const MessageRequest &request) override;
    void beep() override;
    void processEvents() override;
    void runBlocking(const std::function<void()> &work, const std::function<void()> &afterEvents) override;
    std::optional<QString> browseFolder(QWidget *parent, const QString &prompt, const QString &startFolder) override;
    std::optional<QString> openFile(QWidget *parent, const OpenFileRequest &request) override;
    LogWindow *openLogWindow() override;

    QStringList messageTexts() const;
};

}  // namespace qv::test
