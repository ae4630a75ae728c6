#include "app/MainUnt.h"

#include "app/panel.h"
#include "composition/quillow_error.h"

#if QUILLOW_HAVE_EXPORT
#include "export/capture.h"
#include "export/save_command.h"

#include <QFileDialog>
#include <QLineEdit>

// The save command: the picture is taken before the dialog opens, so what is
// saved is what the output area showed when the user chose the format.
void TMainFrm::N1Click(QObject *sender)
{
    guarded([this, sender] {
        const int tag = sender ? sender->property("tag").toInt() : 0;
        SaveCommand command(CaptureOutputArea(pnlMain), formatForTag(tag));
        const SaveDialogSetup setup = command.dialogSetup(edtMain->text());
        SaveDialog1->setDefaultSuffix(setup.defaultSuffix);
        SaveDialog1->setNameFilter(setup.nameFilter);
        SaveDialog1->selectFile(setup.proposedFileName);
        if (SaveDialog1->exec() != QDialog::Accepted)
            return;
        const QStringList chosen = SaveDialog1->selectedFiles();
        if (!chosen.isEmpty())
            command.writeTo(chosen.first());
    });
}

#else

// Built without the export code: the menu entries stay but say so.
void TMainFrm::N1Click(QObject *)
{
    guarded([] { throw QuillowError(QStringLiteral("此版本不能保存图片")); });
}

#endif
