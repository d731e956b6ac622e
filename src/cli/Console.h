// Where a command-line run writes: standard output for the lines a log window
// would show, standard error for what a message box would say, both copied
// with a time stamp into the log file when there is one. A progress line is
// drawn (and redrawn in place) only when standard output is a terminal; it
// never reaches a pipe, a file or the log.
#pragma once

#include "platform/files.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qv::cli {

class Console {
public:
    // progressShown: standard output is a terminal.
    Console(std::FILE *out, std::FILE *err, bool progressShown);
    ~Console();
    Console(const Console &) = delete;
    Console &operator=(const Console &) = delete;

    // Opens the log file for appending; false with the reason otherwise.
    bool openLog(const std::string &path, std::string &reason);

    // Each line of a text ("\r\n", "\r" and "\n" break it) to one stream.
    void out(const std::string &text);
    void err(const std::string &text);
    // Into the log file only (the run's first and last lines there).
    void logOnly(const std::string &text);

    void progress(std::int64_t done, std::int64_t total);
    void endProgress();

    // Why a line could not be written to the log file (the first time it
    // happened); empty while every line got there.
    const std::string &logFailure() const { return logFailure_; }

    // "2026-12-09 03:00:00 ": the stamp before each line of the log file.
    static std::string stamp();
    static std::vector<std::string> lines(const std::string &text);
    // A size as Polish users read it: "512 bajty", "1,5 kB", "3,0 GB".
    static std::string dataSize(std::int64_t bytes);

private:
    void write(std::FILE *stream, const std::string &text);
    void toLog(const std::string &line);

    std::FILE *out_;
    std::FILE *err_;
    bool progressShown_;
    std::string progressText_;  // what the progress line shows now; empty: none
    FileHandle log_ = InvalidFileHandle;
    std::string logFailure_;
};

}  // namespace qv::cli
