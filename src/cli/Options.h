// The command line's arguments: one command and the options that go with it.
// Parsing checks only the arguments themselves; whether a company exists is
// known once the register is read.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace qv::cli {

enum class Command { Archive, List, Test, Restore, Help, Version };

struct Options {
    Command command = Command::Help;
    // --archive
    bool all = false;
    std::vector<std::string> companies;  // --companies, as given (letter case kept)
    std::string output;                  // --output
    bool generateName = false;
    bool upload = false;
    int keep = 0;  // --keep; 0 when not given
    // --list, --test: the archive; --restore: the company, --from its archive
    std::string file;
    std::string company;
    // shared
    std::string data;  // --data
    std::string log;   // --log
    bool yes = false;
    int lockWaitSeconds = 60;  // --lock-wait
};

// A command line that cannot be run as it stands; the text says why, in
// Polish, naming the argument.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string &message) : std::runtime_error(message) {}
    std::string message() const { return what(); }
};

// Parses the arguments (without the program name). Throws UsageError.
Options ParseOptions(const std::vector<std::string> &args);

// The full description printed by --help.
std::string HelpText(const std::string &program);

// The short reminder under a usage error.
std::string UsageHint(const std::string &program);

}  // namespace qv::cli
