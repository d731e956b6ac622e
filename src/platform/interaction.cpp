#include "platform/interaction.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <chrono>
#include <future>

namespace qv {

// Short against what a user notices, long enough to cost nothing.
constexpr auto kBlockingPollInterval = std::chrono::milliseconds(50);

void Interaction::runBlocking(const std::function<void()> &work, const std::function<void()> &afterEvents)
{
    std::future<void> done = std::async(std::launch::async, work);
    while (done.wait_for(kBlockingPollInterval) != std::future_status::ready) {
        processEvents();
        if (afterEvents)
            afterEvents();
    }
    done.get();
}

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

}  // namespace

MsgResult QtInteraction::message(QWidget *parent, const MessageRequest &request)
{
    QMessageBox box(toQt(request.icon), request.caption, displayText(request.text), QMessageBox::NoButton,
                    parent);
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

void QtInteraction::beep() { QApplication::beep(); }

void QtInteraction::processEvents() { QCoreApplication::processEvents(); }

namespace {

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

}  // namespace

std::optional<QString> QtInteraction::browseFolder(QWidget *parent, const QString &prompt,
                                                   const QString &startFolder)
{
    const QString chosen = QFileDialog::getExistingDirectory(parent, prompt, startFolder,
                                                             QFileDialog::ShowDirsOnly | dialogOptions());
    if (chosen.isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(chosen);
}

std::optional<QString> QtInteraction::openFile(QWidget *parent, const OpenFileRequest &request)
{
    QFileDialog dialog(parent, request.title, request.initialFolder, qtFilter(request.filter));
    dialog.setOptions(dialogOptions());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);  // the archive need not exist yet
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.initialName.isEmpty())
        dialog.selectFile(request.initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

QString ApplicationTitleFor(const QString &programFileName)
{
    QString name = QFileInfo(programFileName).fileName();
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    if (name.size() > 1)
        name = name.left(1) + name.mid(1).toLower();
    return name;
}

QString ExceptionReportText(const QString &message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

QString ApplicationTitle()
{
    return ApplicationTitleFor(QCoreApplication::applicationFilePath());
}

}  // namespace qv
