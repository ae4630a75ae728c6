#pragma once

#include <QFileDialog>

#include <functional>

class QLineEdit;
struct OutputFileFormat;

// The save command's menu entry's tag chooses the format: 0 is the BMP,
// anything else the PNG.
const OutputFileFormat &formatForTag(int tag);

// What the save dialog is set to each time the command runs.
struct SaveDialogSetup {
    QString defaultSuffix;    // "png" / "bmp"
    QString nameFilter;       // Qt filter text, e.g. "Png (*.png)"
    QString proposedFileName; // the raw, untrimmed phrase + ".png" / ".bmp"
};

// The dialog's set-up for saving in `format` (the still PNG or the BMP),
// proposing `rawPhrase` as the name, untrimmed, with each "/" and control
// character made "_".
SaveDialogSetup dialogSetup(const OutputFileFormat &format, const QString &rawPhrase);

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

    // Until cleared, each accepted path goes through `rule` (e.g. a suffix
    // added) before the overwrite question, which then asks about the path
    // the rule gives; that path is chosenFile().
    void setNameRule(std::function<QString(const QString &path)> rule) { m_nameRule = std::move(rule); }

public slots:
    void accept() override;
    void done(int result) override;

private:
    QLineEdit *nameEdit() const;
    QString typedName() const;
    QString pathOfTypedName() const;
    bool confirmOverwrite(const QFileInfo &target);

    std::function<QString(const QString &)> m_nameRule;
    QString m_ownChoice; // the last name confirmed here rather than by Qt: it held '"' or the rule changed it
};

// The save dialog `owner` keeps in `kept`, made on first use (building a
// file dialog takes long enough to be felt, and many sessions never save)
// and named `objectName`; `owner` owns it.
SaveDialog *keptSaveDialog(SaveDialog *&kept, QWidget *owner, const QString &objectName);
