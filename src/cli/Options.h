// The command line's arguments: one command and the options that go with it.
// Parsing checks only the arguments themselves; whether a company exists is
// known once the register is read.
#pragma once

#include <QString>
#include <QStringList>
#include <stdexcept>

namespace qv::cli {

enum class Command { Archive, List, Test, Restore, Help, Version };

struct Options {
    Command command = Command::Help;
    // --archive
    bool all = false;
    QStringList companies;  // --companies, as given (letter case kept)
    QString output;         // --output
    bool generateName = false;
    bool upload = false;
    int keep = 0;  // --keep; 0 when not given
    // --list, --test: the archive; --restore: the company, --from its archive
    QString file;
    QString company;
    // shared
    QString data;  // --data
    QString log;   // --log
    bool yes = false;
    int lockWaitSeconds = 60;  // --lock-wait
};

// A command line that cannot be run as it stands; the text says why, in
// Polish, naming the argument.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const QString &message);
    QString message() const;
};

// Parses the arguments (without the program name). Throws UsageError.
Options ParseOptions(const QStringList &args);

// The full description printed by --help.
QString HelpText(const QString &program);

// The short reminder under a usage error.
QString UsageHint(const QString &program);

}  // namespace qv::cli
