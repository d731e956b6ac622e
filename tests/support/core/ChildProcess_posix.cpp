// Children on POSIX systems: fork and execve, pipes read without blocking.
// Everything the child needs is built before the fork: between fork and exec
// only calls that are safe there run.
#include "ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace qv::test {

namespace {

int fdOf(FileHandle h) { return static_cast<int>(h); }

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool executable(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The file exec would run for a name without a folder: the first of the
// PATH's folders that has it.
std::string lookUp(const std::string &program, const Environment &env)
{
    if (program.find('/') != std::string::npos)
        return program;
    const std::string path = env.get("PATH").value_or("/usr/local/bin:/usr/bin:/bin");
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string folder = end > start ? path.substr(start, end - start) : std::string(".");
        const std::string candidate = folder + "/" + program;
        if (executable(candidate))
            return candidate;
        start = end + 1;
    }
    return {};
}

void readInto(FileHandle &pipe, std::string &into)
{
    if (pipe == InvalidFileHandle)
        return;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fdOf(pipe), buf, sizeof buf);
        if (n > 0) {
            into.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        ::close(fdOf(pipe));  // at its end, or broken
        pipe = InvalidFileHandle;
        return;
    }
}

}  // namespace

Environment::Environment()
{
    for (char **e = environ; e && *e; ++e) {
        const std::string entry = *e;
        const std::size_t eq = entry.find('=');
        if (eq != std::string::npos && eq > 0)
            vars_.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
    }
}

bool Environment::sameName(const std::string &a, const std::string &b) { return a == b; }

FileHandle OwnStandardError() { return STDERR_FILENO; }

std::pair<FileHandle, FileHandle> MakePipe()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    return {fds[0], fds[1]};
}

ChildProcess::ChildProcess(const std::string &program, const std::vector<std::string> &args,
                           const ChildOptions &options)
{
    const std::string file = lookUp(program, options.environment);
    if (file.empty()) {
        startError_ = program + ": not found in PATH";
        return;
    }
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<std::string> envStrings = options.environment.entries();
    std::vector<char *> argv, envp;
    for (std::string &a : argStrings)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string &e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    // Our ends never reach a child: every pipe is made close-on-exec, and
    // dup2 clears that flag on the child's copies alone.
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1}, report[2] = {-1, -1};
    const auto fail = [&](const char *what) {
        startError_ = std::string(what) + ": " + std::strerror(errno);
        for (int *p : {in, out, err, report}) {
            closeFd(p[0]);
            closeFd(p[1]);
        }
    };
    if ((!options.input && ::pipe2(in, O_CLOEXEC) != 0) || (!options.output && ::pipe2(out, O_CLOEXEC) != 0) ||
        (!options.errors && ::pipe2(err, O_CLOEXEC) != 0) || ::pipe2(report, O_CLOEXEC) != 0) {
        fail("pipe");
        return;
    }
    const int childIn = options.input ? fdOf(*options.input) : in[0];
    const int childOut = options.output ? fdOf(*options.output) : out[1];
    const int childErr = options.errors ? fdOf(*options.errors) : err[1];
    const char *folder = options.workingFolder.empty() ? nullptr : options.workingFolder.c_str();

    const pid_t child = ::fork();
    if (child < 0) {
        fail("fork");
        return;
    }
    if (child == 0) {
        // Whatever the test process ignores or blocks, the program starts as
        // from a shell: a broken pipe and the stop signals act on it.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGXFSZ})
            ::signal(s, SIG_DFL);
        int error = 0;
        if (::dup2(childIn, STDIN_FILENO) < 0 || ::dup2(childOut, STDOUT_FILENO) < 0 ||
            ::dup2(childErr, STDERR_FILENO) < 0 || (folder && ::chdir(folder) != 0))
            error = errno;
        else {
            ::execve(file.c_str(), argv.data(), envp.data());
            error = errno;
        }
        [[maybe_unused]] const ssize_t w = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    pid_ = static_cast<std::uint32_t>(child);
    closeFd(in[0]);
    closeFd(in[1]);  // the child's input is at its end at once
    closeFd(out[1]);
    closeFd(err[1]);
    closeFd(report[1]);
    int error = 0;
    ssize_t n;
    do
        n = ::read(report[0], &error, sizeof error);
    while (n < 0 && errno == EINTR);
    closeFd(report[0]);
    if (n == static_cast<ssize_t>(sizeof error)) {
        startError_ = file + ": " + std::strerror(error);
        closeFd(out[0]);
        closeFd(err[0]);
        reap(true);
        pid_ = 0;
        return;
    }
    for (int fd : {out[0], err[0]})
        if (fd >= 0)
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    outPipe_ = out[0] >= 0 ? out[0] : InvalidFileHandle;
    errPipe_ = err[0] >= 0 ? err[0] : InvalidFileHandle;
}

ChildProcess::~ChildProcess()
{
    if (pid_ > 0 && !ended_) {
        kill();
        reap(true);
    }
    closePipes();
}

void ChildProcess::readAvailable(int waitMs)
{
    pollfd fds[2];
    nfds_t count = 0;
    for (FileHandle h : {outPipe_, errPipe_})
        if (h != InvalidFileHandle)
            fds[count++] = pollfd{fdOf(h), POLLIN, 0};
    if (::poll(count ? fds : nullptr, count, waitMs) <= 0 && count == 0)
        return;
    readInto(outPipe_, out_);
    readInto(errPipe_, err_);
}

void ChildProcess::reap(bool block)
{
    if (pid_ == 0 || ended_)
        return;
    int status = 0;
    pid_t got;
    do
        got = ::waitpid(static_cast<pid_t>(pid_), &status, block ? 0 : WNOHANG);
    while (got < 0 && errno == EINTR);
    if (got != static_cast<pid_t>(pid_))
        return;
    ended_ = true;
    crashed_ = WIFSIGNALED(status);
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ChildProcess::closePipes()
{
    for (FileHandle *p : {&outPipe_, &errPipe_})
        if (*p != InvalidFileHandle) {
            ::close(fdOf(*p));
            *p = InvalidFileHandle;
        }
}

namespace {
// Only ever the child itself: a number of 0 or below would reach a whole
// process group, this test's included.
bool signalChild(std::uint32_t pid, bool ended, int signal, std::string &error)
{
    if (pid == 0 || ended) {
        error = "the child is not running";
        return false;
    }
    if (::kill(static_cast<pid_t>(pid), signal) != 0) {
        error = std::string("kill: ") + std::strerror(errno);
        return false;
    }
    error.clear();
    return true;
}
}  // namespace

std::string ChildProcess::InterruptUnavailable() { return {}; }

bool ChildProcess::interrupt()
{
    running();
    return signalChild(pid_, ended_, SIGINT, stopError_);
}

bool ChildProcess::terminate()
{
    running();
    return signalChild(pid_, ended_, SIGTERM, stopError_);
}

void ChildProcess::kill()
{
    std::string ignored;
    if (signalChild(pid_, ended_, SIGKILL, ignored))
        killed_ = true;
}

}  // namespace qv::test
