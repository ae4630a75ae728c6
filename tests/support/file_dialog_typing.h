#pragma once

#include <QFileDialog>
#include <QLineEdit>
#include <QtTest>

// Types `fileName` into the file dialog's name field as a user would,
// replacing what the field held, and presses Return. False when the dialog
// has no name field (not Qt's own dialog).
inline bool typeFileNameAndAccept(QFileDialog *dialog, const QString &fileName)
{
    auto *nameEdit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (!nameEdit)
        return false;
    nameEdit->setFocus();
    nameEdit->selectAll();
    QTest::keyClicks(nameEdit, fileName);
    QTest::keyClick(nameEdit, Qt::Key_Return);
    return true;
}
