// What a child process is the same on every system: waiting in slices while
// its output is read (a child that fills its pipe would otherwise never end),
// the search for a line, the whole run in one call.
#include "ChildProcess.h"

#include <chrono>

namespace qv::test {

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// A grandchild may hold the pipes after the child ended (a shell's
// background job): what it has not written by then is not waited for.
constexpr int kDrainAfterEndMs = 2000;
constexpr int kSliceMs = 20;

}  // namespace

std::optional<std::string> Environment::get(const std::string &name) const
{
    for (const auto &[n, v] : vars_)
        if (sameName(n, name))
            return v;
    return std::nullopt;
}

void Environment::set(const std::string &name, const std::string &value)
{
    for (auto &[n, v] : vars_)
        if (sameName(n, name)) {
            v = value;
            return;
        }
    vars_.emplace_back(name, value);
}

void Environment::remove(const std::string &name)
{
    std::erase_if(vars_, [&](const auto &var) { return sameName(var.first, name); });
}

std::vector<std::string> Environment::entries() const
{
    std::vector<std::string> out;
    for (const auto &[n, v] : vars_)
        out.push_back(n + "=" + v);
    return out;
}

bool ChildProcess::running()
{
    if (started() && !ended_)
        reap(false);
    return started() && !ended_;
}

bool ChildProcess::wait(int timeoutMs)
{
    if (!started())
        return false;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!ended_) {
        readAvailable(std::min(kSliceMs, msLeft(deadline)));
        reap(false);
        if (!ended_ && msLeft(deadline) == 0) {
            timedOut_ = true;
            kill();
            reap(true);
        }
    }
    const Clock::time_point drainEnd = Clock::now() + std::chrono::milliseconds(kDrainAfterEndMs);
    while ((outPipe_ != InvalidFileHandle || errPipe_ != InvalidFileHandle) && msLeft(drainEnd) > 0)
        readAvailable(std::min(kSliceMs, msLeft(drainEnd)));
    closePipes();
    return !timedOut_;
}

bool ChildProcess::waitForOutput(const std::string &text, int timeoutMs)
{
    if (!started())
        return false;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (out_.find(text) != std::string::npos)
            return true;
        if (msLeft(deadline) == 0)
            return false;
        // Once ended and read to the end, nothing more will come.
        if (ended_ && outPipe_ == InvalidFileHandle)
            return false;
        readAvailable(std::min(kSliceMs, msLeft(deadline)));
        if (!ended_)
            reap(false);
    }
}

RunResult RunProgram(const std::string &program, const std::vector<std::string> &args, const ChildOptions &options,
                     int timeoutMs)
{
    ChildProcess child(program, args, options);
    RunResult r;
    r.started = child.started();
    r.startError = child.startError();
    if (!r.started)
        return r;
    child.wait(timeoutMs);
    r.status = child.exitCode();
    r.crashed = child.crashed();
    r.timedOut = child.timedOut();
    r.out = child.output();
    r.err = child.errorOutput();
    return r;
}

std::string ExecutableName(const std::string &name)
{
#ifdef _WIN32
    return name + ".exe";
#else
    return name;
#endif
}

}  // namespace qv::test
