// Exceptions shared by every part of the program. Messages are UTF-8.
#pragma once

#include <stdexcept>
#include <string>

namespace qv {

// The general exception: a message text and nothing else.
class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A failed operating-system call: "System Error.  Code: %d.\r\n%s".
class EOSError : public Exception {
public:
    explicit EOSError(int code);
    int code() const { return code_; }

private:
    int code_;
};

// The platform's last error code (errno here, GetLastError() on Windows).
int LastOSError();
void SetLastOSError(int code);

// The system's own text for an OS error code.
std::string SysErrorMessage(int code);

// Raises EOSError for the last OS error, or the general exception
// "A call to an OS function failed" when the system gives no code.
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseOSError(int code);

}  // namespace qv
