// A scripted answerer for the user-interaction port: it records every message
// (text, caption, icon, buttons, default button), answers from a queue, and
// counts beeps. Dialog answers come from queues too.
#pragma once

#include "archive/Interaction.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qv::test {

class ScriptedInteraction : public Interaction {
public:
    std::vector<MessageRequest> messages;
    std::deque<MsgResult> answers;  // for Yes/No questions; empty: the default button
    int beeps = 0;
    // Events recorded in order: "beep", "message:<text>", "browse", "open".
    std::vector<std::string> trail;

    std::deque<std::optional<std::string>> folderAnswers;  // empty: cancelled
    std::vector<std::string> folderPrompts;
    std::vector<std::string> folderStarts;
    std::deque<std::optional<std::string>> openFileAnswers;
    std::vector<OpenFileRequest> openFileRequests;

    // Called inside message() before it answers, e.g. to inspect state.
    std::function<void(const MessageRequest &)> onMessage;
    std::function<LogWindow *()> logWindowFactory;
    // Runs at every processEvents(), e.g. to press a button mid-operation;
    // then the window system's own events, when a front end set that.
    std::function<void()> onProcessEvents;
    std::function<void()> windowSystemEvents;
    // Set, it holds the work of each runBlocking() back and calls this on the
    // calling thread between passes of events (through the real
    // runBlocking) with the number of the call (1, 2, ...), until it returns
    // true; then the work runs. A test sees what the user can do while a
    // stage of an operation waits on the disk.
    std::function<bool(int call)> whileBlocked;
    int blockingCalls = 0;

    MsgResult message(const MessageRequest &request) override;
    void beep() override;
    void processEvents() override;
    void runBlocking(const std::function<void()> &work, const std::function<void()> &afterEvents) override;
    std::optional<std::string> browseFolder(const std::string &prompt, const std::string &startFolder) override;
    std::optional<std::string> openFile(const OpenFileRequest &request) override;
    LogWindow *openLogWindow() override;

    std::vector<std::string> messageTexts() const;
};

}  // namespace qv::test
