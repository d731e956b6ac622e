#include "ScriptedInteraction.h"

#include <QCoreApplication>
#include <future>
#include <stdexcept>

namespace qv::test {

namespace {
std::optional<QString> takeFront(std::deque<std::optional<QString>> &queue)
{
    if (queue.empty())
        return std::nullopt;
    const bool has = queue.front().has_value();
    const QString value = queue.front().value_or(QString());
    queue.pop_front();
    return has ? std::optional<QString>(value) : std::nullopt;
}
}  // namespace

MsgResult ScriptedInteraction::message(QWidget *, const MessageRequest &request)
{
    messages.push_back(request);
    trail << QStringLiteral("message:") + request.text;
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
    trail << QStringLiteral("beep");
}

void ScriptedInteraction::processEvents()
{
    if (onProcessEvents)
        onProcessEvents();
    QCoreApplication::processEvents();
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

std::optional<QString> ScriptedInteraction::browseFolder(QWidget *, const QString &prompt, const QString &startFolder)
{
    trail << QStringLiteral("browse");
    folderPrompts.push_back(prompt);
    folderStarts.push_back(startFolder);
    return takeFront(folderAnswers);
}

std::optional<QString> ScriptedInteraction::openFile(QWidget *, const OpenFileRequest &request)
{
    trail << QStringLiteral("open");
    openFileRequests.push_back(request);
    return takeFront(openFileAnswers);
}

LogWindow *ScriptedInteraction::openLogWindow()
{
    if (!logWindowFactory)
        throw std::logic_error("no log window factory in this test");
    return logWindowFactory();
}

QStringList ScriptedInteraction::messageTexts() const
{
    QStringList out;
    for (const auto &m : messages)
        out << m.text;
    return out;
}

}  // namespace qv::test
