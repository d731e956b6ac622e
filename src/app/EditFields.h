// The two one-line fields of the main window, each with a browse button at
// its right end. Both declare the property "Text" that the settings keep.
#pragma once

#include "archive/ArchiveName.h"

#include <QLineEdit>
#include <QWidget>

class QToolButton;

namespace qv {

class FieldLineEdit;

class TBrowseEdit : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString Text READ text WRITE setText NOTIFY textChanged)
public:
    explicit TBrowseEdit(QWidget *parent = nullptr);

    virtual QString text() const;
    virtual void setText(const QString &text);
    QLineEdit *lineEdit() const;
    QToolButton *button() const { return button_; }
    void setHint(const QString &hint);

signals:
    void textChanged(const QString &text);
    void browseClicked();
    // Focus moved to another control of the same window.
    void exited();

protected:
    FieldLineEdit *edit_;
    QToolButton *button_;
};

// The archive-file field FN_cab: the user types into it.
class TFilenameEdit : public TBrowseEdit {
    Q_OBJECT
public:
    explicit TFilenameEdit(QWidget *parent = nullptr);
    // The name the commands use (whole text if such a file exists, else the
    // first word, a double-quoted stretch counting as part of its word).
    QString FileName() const;
    // Puts a name into the field, in double quotes when it holds a blank.
    void setFileName(const QString &name);
};

// The data-folder field DirectoryEdit_LDG: read only for the user; shown in
// capitals where the file system ignores letter case.
class TDirectoryEdit : public TBrowseEdit {
    Q_OBJECT
public:
    explicit TDirectoryEdit(QWidget *parent = nullptr);
    QString text() const override { return text_; }
    void setText(const QString &text) override;

private:
    QString text_;
};

}  // namespace qv
