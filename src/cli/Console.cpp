// Every line is written whole and flushed at once, so a run killed half way
// leaves what it had said, in order, on the terminal, in cron's mail and in
// the log. The progress line lives only between lines: each line wipes it.
#include "cli/Console.h"

#include "platform/environment.h"
#include "platform/errors.h"
#include "platform/text.h"

#include <algorithm>

namespace qv::cli {

Console::Console(std::FILE *out, std::FILE *err, bool progressShown)
    : out_(out), err_(err), progressShown_(progressShown)
{
}

Console::~Console()
{
    if (log_ != InvalidFileHandle)
        FileClose(log_);
}

bool Console::openLog(const std::string &path, std::string &reason)
{
    const FileHandle h = FileOpen(path, FileAccess::Append, FileShare::ReadWrite, FileDisposition::OpenAlways,
                                   fhCharacterDevice);
    if (h == InvalidFileHandle) {
        reason = SysErrorMessage(LastOSError());
        return false;
    }
    log_ = h;
    return true;
}

std::vector<std::string> Console::lines(const std::string &text)
{
    std::vector<std::string> out(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            out.emplace_back();
        } else {
            out.back() += text[i];
        }
    }
    return out;
}

std::string Console::stamp()
{
    const LocalDateTime t = LocalNow();
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d ", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

std::string Console::dataSize(std::int64_t bytes)
{
    if (bytes < 1024)
        return std::to_string(bytes) + " bajty";
    static const char *units[] = {"kB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes);
    int unit = -1;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    std::string out = text;
    std::replace(out.begin(), out.end(), '.', ',');
    return out;
}

void Console::out(const std::string &text) { write(out_, text); }

void Console::err(const std::string &text) { write(err_, text); }

void Console::logOnly(const std::string &text)
{
    for (const std::string &line : lines(text))
        toLog(line);
}

void Console::write(std::FILE *stream, const std::string &text)
{
    endProgress();
    for (const std::string &line : lines(text)) {
        const std::string bytes = line + '\n';
        std::fwrite(bytes.data(), 1, bytes.size(), stream);
        toLog(line);
    }
    // Lines of both streams reach a terminal, a pipe or cron's mail in the
    // order they were written, also if the program is killed next.
    std::fflush(stream);
}

void Console::toLog(const std::string &line)
{
    if (log_ == InvalidFileHandle)
        return;
#ifdef _WIN32
    const std::string bytes = stamp() + line + "\r\n";  // as Notepad reads it
#else
    const std::string bytes = stamp() + line + '\n';
#endif
    const bool written = FileWrite(log_, bytes.data(), static_cast<std::uint32_t>(bytes.size())) ==
                         static_cast<std::int64_t>(bytes.size());
    if (!written && logFailure_.empty())
        logFailure_ = SysErrorMessage(LastOSError());
}

void Console::progress(std::int64_t done, std::int64_t total)
{
    if (!progressShown_ || total <= 0)
        return;
    const std::int64_t percent = std::min<std::int64_t>(100, done * 100 / total);
    const std::string text =
        Format("%1% (%2 z %3)", {PadLeft(std::to_string(percent), 3), dataSize(done), dataSize(total)});
    if (text == progressText_)
        return;
    // Drawn over the last one; a shorter text blanks what the longer left.
    const std::size_t shown = CharacterCount(progressText_), now = CharacterCount(text);
    const std::string bytes = '\r' + text + std::string(shown > now ? shown - now : 0, ' ');
    std::fwrite(bytes.data(), 1, bytes.size(), out_);
    std::fflush(out_);
    progressText_ = text;
}

void Console::endProgress()
{
    if (progressText_.empty())
        return;
    const std::string bytes = '\r' + std::string(CharacterCount(progressText_), ' ') + '\r';
    std::fwrite(bytes.data(), 1, bytes.size(), out_);
    std::fflush(out_);
    progressText_.clear();
}

}  // namespace qv::cli
