#pragma once

#include <QFileDialog>

class QLineEdit;

// The save-file dialog of the save command: Qt's own dialog (so it speaks
// Chinese and appends the default suffix alike on every desktop), asking
// before it overwrites a file, resizable.
//
// Qt's dialog reads a typed name containing '"' as a list of quoted names
// and returns only the quoted part: "a"b.png" would come back as "b.png",
// and the overwrite question would be asked about that other file. Such a
// name is read here as one name, so the file written is the file named.
class SaveDialog : public QFileDialog {
    Q_OBJECT
public:
    explicit SaveDialog(QWidget *parent);

    // The absolute path the user confirmed in the last accepted run, with
    // the default suffix appended when the name had none; empty before.
    QString chosenFile() const;

public slots:
    void accept() override;
    void done(int result) override;

private:
    QLineEdit *nameEdit() const;
    QString typedName() const;
    QString pathOfTypedName() const;
    bool confirmOverwrite(const QFileInfo &target);

    QString m_quotedChoice; // the last confirmed name that held '"'
};
