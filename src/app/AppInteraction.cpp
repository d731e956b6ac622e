#include "app/AppInteraction.h"

#include "app/TForm_Zawartosc.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QLocale>
#include <QMessageBox>
#include <QTime>

namespace qv {

namespace {

QString displayText(QString text)
{
    // The program's texts break lines with a bare carriage return.
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QMessageBox::Icon toQt(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Error: return QMessageBox::Critical;
    case MsgIcon::Question: return QMessageBox::Question;
    case MsgIcon::Warning: return QMessageBox::Warning;
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

// "Text (*.a)|*.a|Other (*.*)|*.*" -> "Text (*.a);;Other (*.*)"
QString qtFilter(const QString &filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        const QString patterns = QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' '));
        if (!description.contains(QLatin1Char('(')))
            description += QStringLiteral(" (%1)").arg(patterns);
        out << description;
    }
    return out.join(QLatin1String(";;"));
}

// Qt's own dialogs speak the program's language; a desktop's native one
// speaks the system's. Windows keeps its own: there both are the user's.
QFileDialog::Options dialogOptions()
{
#ifdef _WIN32
    return {};
#else
    return QFileDialog::DontUseNativeDialog;
#endif
}

// The user's long time format without a time zone, which no file time has.
QString longTimeFormat()
{
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return format.trimmed();
}

}  // namespace

LogWindow *OpenLogWindow()
{
    auto *window = new TForm_Zawartosc();
    Form_Zawartosc = window;
    return window;
}

LogWindow *AppInteraction::openLogWindow() { return OpenLogWindow(); }

MsgResult AppInteraction::message(const MessageRequest &request)
{
    QMessageBox box(toQt(request.icon), Q(request.caption), displayText(Q(request.text)), QMessageBox::NoButton,
                    parent_);
    if (request.buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(request.defaultButton == MsgResult::Yes ? QMessageBox::Yes : QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    const int answer = box.exec();
    if (answer == QMessageBox::Yes)
        return MsgResult::Yes;
    if (answer == QMessageBox::No)
        return MsgResult::No;
    if (answer == QMessageBox::Ok)
        return MsgResult::Ok;
    return MsgResult::Cancel;
}

void AppInteraction::beep() { QApplication::beep(); }

void AppInteraction::processEvents() { QCoreApplication::processEvents(); }

std::optional<std::string> AppInteraction::browseFolder(const std::string &prompt, const std::string &startFolder)
{
    const QString chosen = QFileDialog::getExistingDirectory(parent_, Q(prompt), Q(startFolder),
                                                             QFileDialog::ShowDirsOnly | dialogOptions());
    if (chosen.isEmpty())
        return std::nullopt;
    return U(QDir::toNativeSeparators(chosen));
}

std::optional<std::string> AppInteraction::openFile(const OpenFileRequest &request)
{
    QFileDialog dialog(parent_, Q(request.title), Q(request.initialFolder), qtFilter(Q(request.filter)));
    dialog.setOptions(dialogOptions());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);  // the archive need not exist yet
    dialog.setDefaultSuffix(Q(request.defaultSuffix));
    if (!request.initialName.empty())
        dialog.selectFile(Q(request.initialName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return U(QDir::toNativeSeparators(dialog.selectedFiles().constFirst()));
}

std::string QtRegionalDate(int year, int month, int day)
{
    return U(QLocale::system().toString(QDate(year, month, day), QLocale::ShortFormat));
}

std::string QtRegionalTime(int hour, int minute, int second)
{
    return U(QLocale::system().toString(QTime(hour, minute, second), longTimeFormat()));
}

std::string AppInteraction::regionalDate(int year, int month, int day) { return QtRegionalDate(year, month, day); }

std::string AppInteraction::regionalTime(int hour, int minute, int second)
{
    return QtRegionalTime(hour, minute, second);
}

}  // namespace qv
