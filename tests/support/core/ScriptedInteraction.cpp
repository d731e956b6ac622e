#include "ScriptedInteraction.h"

#include <future>
#include <stdexcept>

namespace qv::test {

namespace {
std::optional<std::string> takeFront(std::deque<std::optional<std::string>> &queue)
{
    if (queue.empty())
        return std::nullopt;
    std::optional<std::string> front = std::move(queue.front());
    queue.pop_front();
    return front;
}
}  // namespace

MsgResult ScriptedInteraction::message(const MessageRequest &request)
{
    messages.push_back(request);
    trail.push_back("message:" + request.text);
    if (onMessage)
        onMessage(request);
    if (request.buttons == MsgButtons::Ok)
        return MsgResult::Ok;
    if (answers.empty())
        return request.defaultButton;
    const MsgResult answer = answers.front();
    answers.pop_front();
    return answer;
}

void ScriptedInteraction::beep()
{
    ++beeps;
    trail.push_back("beep");
}

void ScriptedInteraction::processEvents()
{
    if (onProcessEvents)
        onProcessEvents();
    if (windowSystemEvents)
        windowSystemEvents();
}

void ScriptedInteraction::runBlocking(const std::function<void()> &work, const std::function<void()> &afterEvents)
{
    const int call = ++blockingCalls;
    if (!whileBlocked) {
        Interaction::runBlocking(work, afterEvents);
        return;
    }
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    bool released = false;
    const auto release = [&] {
        if (!released) {
            released = true;
            gate.set_value();
        }
    };
    // The gate opens before anything leaves the loop, or the worker would
    // wait for it for ever.
    Interaction::runBlocking(
        [&] {
            opened.wait();
            work();
        },
        [&] {
            try {
                if (afterEvents)
                    afterEvents();
                if (!released && whileBlocked(call))
                    release();
            } catch (...) {
                release();
                throw;
            }
        });
}

std::optional<std::string> ScriptedInteraction::browseFolder(const std::string &prompt, const std::string &startFolder)
{
    trail.push_back("browse");
    folderPrompts.push_back(prompt);
    folderStarts.push_back(startFolder);
    return takeFront(folderAnswers);
}

std::optional<std::string> ScriptedInteraction::openFile(const OpenFileRequest &request)
{
    trail.push_back("open");
    openFileRequests.push_back(request);
    return takeFront(openFileAnswers);
}

LogWindow *ScriptedInteraction::openLogWindow()
{
    if (!logWindowFactory)
        throw std::logic_error("no log window factory in this test");
    return logWindowFactory();
}

std::vector<std::string> ScriptedInteraction::messageTexts() const
{
    std::vector<std::string> out;
    for (const auto &m : messages)
        out.push_back(m.text);
    return out;
}

}  // namespace qv::test
