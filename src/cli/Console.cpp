// Every line is written whole and flushed at once, so a run killed half way
// leaves what it had said, in order, on the terminal, in cron's mail and in
// the log. The progress line lives only between lines: each line wipes it.
#include "cli/Console.h"

#include <QDateTime>
#include <QLocale>
#include <QStringList>

namespace qv::cli {

Console::Console(std::FILE *out, std::FILE *err, bool progressShown)
    : out_(out), err_(err), progressShown_(progressShown)
{
}

bool Console::openLog(const QString &path, QString &reason)
{
    log_.setFileName(path);
    if (log_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return true;
    reason = log_.errorString();
    return false;
}

QStringList Console::lines(const QString &text)
{
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t.split(QLatin1Char('\n'));
}

QString Console::stamp() { return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")); }

void Console::out(const QString &text) { write(out_, text); }

void Console::err(const QString &text) { write(err_, text); }

void Console::logOnly(const QString &text)
{
    for (const QString &line : lines(text))
        toLog(line);
}

void Console::write(std::FILE *stream, const QString &text)
{
    endProgress();
    for (const QString &line : lines(text)) {
        const QByteArray bytes = line.toUtf8() + '\n';
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
        toLog(line);
    }
    // Lines of both streams reach a terminal, a pipe or cron's mail in the
    // order they were written, also if the program is killed next.
    std::fflush(stream);
}

void Console::toLog(const QString &line)
{
    if (!log_.isOpen())
        return;
    const QByteArray bytes = (stamp() + line + QLatin1Char('\n')).toUtf8();
    const bool written = log_.write(bytes) == bytes.size() && log_.flush();
    if (!written && logFailure_.isEmpty())
        logFailure_ = log_.errorString();
}

void Console::progress(qint64 done, qint64 total)
{
    if (!progressShown_ || total <= 0)
        return;
    const qint64 percent = std::min<qint64>(100, done * 100 / total);
    const QLocale pl(QLocale::Polish);
    const QString text = QStringLiteral("%1% (%2 z %3)")
                             .arg(percent, 3)
                             .arg(pl.formattedDataSize(done, 1, QLocale::DataSizeTraditionalFormat),
                                  pl.formattedDataSize(total, 1, QLocale::DataSizeTraditionalFormat));
    if (text == progressText_)
        return;
    // Drawn over the last one; a shorter text blanks what the longer left.
    const qsizetype blank = std::max<qsizetype>(0, progressText_.size() - text.size());
    const QByteArray bytes = ('\r' + text + QString(blank, QLatin1Char(' '))).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), out_);
    std::fflush(out_);
    progressText_ = text;
}

void Console::endProgress()
{
    if (progressText_.isEmpty())
        return;
    const QByteArray bytes = ('\r' + QString(progressText_.size(), QLatin1Char(' ')) + '\r').toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), out_);
    std::fflush(out_);
    progressText_.clear();
}

}  // namespace qv::cli
