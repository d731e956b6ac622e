#include "app/EditFields.h"

#include "platform/pathcase.h"

#include <QFileInfo>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QStyle>
#include <QToolButton>

namespace qv {

class FieldLineEdit : public QLineEdit {
public:
    explicit FieldLineEdit(TBrowseEdit *owner) : QLineEdit(owner), owner_(owner) {}

protected:
    void focusOutEvent(QFocusEvent *event) override
    {
        QLineEdit::focusOutEvent(event);
        // A menu popping up or another window taking over is not leaving the
        // field; only a move to another control of the window is.
        if (event->reason() != Qt::PopupFocusReason && event->reason() != Qt::ActiveWindowFocusReason)
            emit owner_->exited();
    }

private:
    TBrowseEdit *owner_;
};

TBrowseEdit::TBrowseEdit(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    edit_ = new FieldLineEdit(this);
    button_ = new QToolButton(this);
    button_->setText(QStringLiteral("…"));
    button_->setFocusPolicy(Qt::NoFocus);
    button_->setFixedWidth(21);
    layout->addWidget(edit_, 1);
    layout->addWidget(button_);
    setFocusProxy(edit_);
    connect(button_, &QToolButton::clicked, this, &TBrowseEdit::browseClicked);
}

QString TBrowseEdit::text() const { return edit_->text(); }

void TBrowseEdit::setText(const QString &text) { edit_->setText(text); }

QLineEdit *TBrowseEdit::lineEdit() const { return edit_; }

void TBrowseEdit::setHint(const QString &hint)
{
    QString shown = hint;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    edit_->setToolTip(shown);
    button_->setToolTip(shown);
}

TFilenameEdit::TFilenameEdit(QWidget *parent) : TBrowseEdit(parent)
{
    button_->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    connect(edit_, &QLineEdit::textChanged, this, &TBrowseEdit::textChanged);
}

QString TFilenameEdit::FileName() const { return QString::fromStdString(ArchiveFileNameFromText(text().toStdString())); }

void TFilenameEdit::setFileName(const QString &name)
{
    setText(name.contains(QLatin1Char(' ')) ? QLatin1Char('"') + name + QLatin1Char('"') : name);
}

TDirectoryEdit::TDirectoryEdit(QWidget *parent) : TBrowseEdit(parent)
{
    edit_->setReadOnly(true);
    button_->setIcon(style()->standardIcon(QStyle::SP_DirIcon));
}

void TDirectoryEdit::setText(const QString &text)
{
    const QString held = QString::fromStdString(DataFolderAsHeld(text.toStdString()));
    if (held == text_)
        return;
    text_ = held;
    edit_->setText(text_);
    emit textChanged(text_);
}

}  // namespace qv
