// Where a command-line run writes: standard output for the lines a log window
// would show, standard error for what a message box would say, both copied
// with a time stamp into the log file when there is one. A progress line is
// drawn (and redrawn in place) only when standard output is a terminal; it
// never reaches a pipe, a file or the log.
#pragma once

#include <QFile>
#include <QString>
#include <cstdio>

namespace qv::cli {

class Console {
public:
    // progressShown: standard output is a terminal.
    Console(std::FILE *out, std::FILE *err, bool progressShown);

    // Opens the log file for appending; false with the reason otherwise.
    bool openLog(const QString &path, QString &reason);

    // Each line of a text ("\r\n", "\r" and "\n" break it) to one stream.
    void out(const QString &text);
    void err(const QString &text);
    // Into the log file only (the run's first and last lines there).
    void logOnly(const QString &text);

    void progress(qint64 done, qint64 total);
    void endProgress();

    // Why a line could not be written to the log file (the first time it
    // happened); empty while every line got there.
    QString logFailure() const { return logFailure_; }

    // "2026-12-09 03:00:00 ": the stamp before each line of the log file.
    static QString stamp();
    static QStringList lines(const QString &text);

private:
    void write(std::FILE *stream, const QString &text);
    void toLog(const QString &line);

    std::FILE *out_;
    std::FILE *err_;
    bool progressShown_;
    QString progressText_;  // what the progress line shows now; empty: none
    QFile log_;
    QString logFailure_;
};

}  // namespace qv::cli
