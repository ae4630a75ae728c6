#pragma once

#include "app/shell/error_report.h"
#include "jobs/pack_job.h"

#include <QDialog>
#include <QThreadPool>

#include <optional>

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class StickerDialog;

// "做成贴纸包": a list of phrases (one per line, a tab and emoji after a
// phrase tag it), the chat app, the pack's name and publisher. Every change
// makes the whole pack again on a worker thread and shows it as a grid of
// its stickers and its extra images, or the rule it breaks; "保存…" writes
// the archive the grid shows. Every sticker takes `draft`'s options.
class PackDialog : public QDialog {
    Q_OBJECT
public:
    PackDialog(JobDraft draft, const QString &firstPhrase, ErrorReporter report, QWidget *parent);
    ~PackDialog() override;

    // The pack on show; null while one is being made or when the rules
    // refuse it (refusal() then says why).
    const MadePack *pack() const { return m_pack ? &*m_pack : nullptr; }
    QString refusal() const;
    bool isMaking() const { return m_making; }

    // Writes the pack on show to `path`; false (after reporting) when there
    // is none or it cannot be written.
    bool saveTo(const QString &path);

public slots:
    // "保存…": asks where, then writes the pack.
    void save();

signals:
    // A pack was made, or refused.
    void packUpdated();

private:
    void startMaking();
    void packMade(int generation, std::optional<MadePack> pack, const QString &error);
    void showPack();

    JobDraft m_draft;
    ErrorReporter m_report;
    QPlainTextEdit *m_phrases;
    QComboBox *m_app;
    QLineEdit *m_name;
    QLineEdit *m_publisher;
    QLineEdit *m_iconPhrase;
    QLineEdit *m_prefix;
    QListWidget *m_grid;
    QLabel *m_status;
    QPushButton *m_saveButton;
    QTimer *m_changed;
    std::optional<MadePack> m_pack;
    QString m_error;
    bool m_making = false;
    int m_generation = 0;
    // One worker, which spreads a pack's stickers over every core itself.
    QThreadPool m_workers;
};

// Adds "做成贴纸包…" to the sticker dialog's buttons: it opens a PackDialog
// whose stickers take the dialog's choices and the strip's settings, the
// dialog's phrase first in the list. Returns the button, which the
// dialog owns.
QPushButton *addPackButton(QDialogButtonBox *buttons, StickerDialog *dialog, const StripLayout &layout,
                           const QString &phrase, const ErrorReporter &report);
