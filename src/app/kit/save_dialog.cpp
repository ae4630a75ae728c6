#include "app/kit/save_dialog.h"

#include "export/file_output.h"
#include "export/output_format.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>

namespace {

const QLatin1Char kQuote('"');

} // namespace

SaveDialog::SaveDialog(QWidget *parent) : QFileDialog(parent)
{
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    setOption(QFileDialog::DontConfirmOverwrite, false);
    setOption(QFileDialog::DontUseNativeDialog, true);
    setSizeGripEnabled(true);
}

QString SaveDialog::chosenFile() const
{
    if (!m_ownChoice.isEmpty())
        return m_ownChoice;
    return selectedFiles().value(0);
}

void SaveDialog::accept()
{
    m_ownChoice.clear();
    const QString typed = pathOfTypedName();
    if (QFileInfo(typed).isDir()) {
        if (typedName().contains(kQuote))
            setDirectory(typed);
        else
            QFileDialog::accept();
        return;
    }
    const QString path = m_nameRule ? m_nameRule(typed) : typed;
    if (!typedName().contains(kQuote) && path == typed) {
        QFileDialog::accept();
        return;
    }

    // QFileDialog::accept() would read a quoted name as a list again, and
    // would ask about the name as typed rather than the one written.
    const QFileInfo target(path);
    if (target.isDir()) {
        setDirectory(path);
        return;
    }
    if (target.exists() && !confirmOverwrite(target))
        return;
    m_ownChoice = path;
    QDialog::accept();
}

void SaveDialog::done(int result)
{
    // The name field's completion list is a window of its own. Left open
    // when Return closes the dialog, it would stay over the main window and
    // swallow the user's next click there.
    if (QLineEdit *edit = nameEdit(); edit && edit->completer() && edit->completer()->popup())
        edit->completer()->popup()->hide();
    QFileDialog::done(result);
}

QLineEdit *SaveDialog::nameEdit() const
{
    return findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
}

QString SaveDialog::typedName() const
{
    const QLineEdit *edit = nameEdit();
    return edit ? edit->text() : QString();
}

// The typed name as Qt reads a name without quotes: relative to the folder
// shown, completed with the default suffix when it has no '.'.
QString SaveDialog::pathOfTypedName() const
{
    QString path = directory().absoluteFilePath(typedName());
    const QFileInfo typed(path);
    if (!defaultSuffix().isEmpty() && !typed.isDir() && !typed.fileName().contains(QLatin1Char('.')))
        path += QLatin1Char('.') + defaultSuffix();
    return QDir::cleanPath(path);
}

bool SaveDialog::confirmOverwrite(const QFileInfo &target)
{
    // Qt's own question, so that it reads as the dialog's other questions.
    const QString question =
        QFileDialog::tr("%1 already exists.\nDo you want to replace it?").arg(target.fileName());
    return QMessageBox::warning(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::No) == QMessageBox::Yes;
}

const OutputFileFormat &formatForTag(int tag)
{
    return *outputFormatNamed(tag == 0 ? u"bmp" : u"png");
}

SaveDialogSetup dialogSetup(const OutputFileFormat &format, const QString &rawPhrase)
{
    const QString suffix(format.suffix);
    return {suffix, format.windowFilter.toString(),
            fileNameFromPhrase(rawPhrase) + QLatin1Char('.') + suffix};
}

SaveDialog *keptSaveDialog(SaveDialog *&kept, QWidget *owner, const QString &objectName)
{
    if (!kept) {
        kept = new SaveDialog(owner);
        kept->setObjectName(objectName);
    }
    return kept;
}
