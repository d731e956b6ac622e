#include "archive/Interaction.h"

#include "platform/environment.h"
#include "platform/files.h"
#include "platform/text.h"

#include <chrono>
#include <future>

namespace qv {

// Short against what a user notices, long enough to cost nothing.
constexpr auto kBlockingPollInterval = std::chrono::milliseconds(50);

void Interaction::runBlocking(const std::function<void()> &work, const std::function<void()> &afterEvents)
{
    std::future<void> done = std::async(std::launch::async, work);
    while (done.wait_for(kBlockingPollInterval) != std::future_status::ready) {
        processEvents();
        if (afterEvents)
            afterEvents();
    }
    done.get();
}

std::string Interaction::regionalDate(int year, int month, int day) { return RegionalShortDate(year, month, day); }

std::string Interaction::regionalTime(int hour, int minute, int second)
{
    return RegionalLongTime(hour, minute, second);
}

std::string ApplicationTitleFor(const std::string &programFileName)
{
    std::u32string name = DecodeUtf8(ExtractFileName(programFileName));
    const std::size_t dot = name.find(U'.');
    if (dot != std::u32string::npos)
        name.resize(dot);
    for (std::size_t i = 1; i < name.size(); ++i)
        name[i] = FoldCase(name[i]);
    return EncodeUtf8(name);
}

std::string ExceptionReportText(const std::string &message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        return message + '.';
    return message;
}

std::string ApplicationTitle() { return ApplicationTitleFor(ProgramFilePath()); }

}  // namespace qv
