#pragma once

#include "app/error_report.h"
#include "app/font_name_list.h"
#include "composition/strip_settings.h"

#include <QWidget>

#include <functional>

#include <memory>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class ColourEdit;
class Panel;
class RadioGroup;
class SaveDialog;
class SpinEdit;
class TextMeasurer;
class ColourSource;

// The main window: the settings controls, the preview region with the output
// area, and the preview and save commands. Every component carries its
// design name both as member and as object name.
class TMainFrm : public QWidget {
    Q_OBJECT
public:
    // Client area at 96 dpi.
    static constexpr QSize kDesignSize{1045, 506};

    // `fontEnumerator` lists the faces for cbbfont on its worker thread.
    explicit TMainFrm(FontEnumerator fontEnumerator = installedFontFaces, QWidget *parent = nullptr);
    ~TMainFrm() override;

    // Everything the controls say now, as one record.
    StripSettings readStripSettings() const;

    // Replaces who shows error reports (the message box by default).
    void setErrorReporter(ErrorReporter reporter);
    // Replaces the measurer the preview lays the strip out with.
    void setTextMeasurer(std::unique_ptr<TextMeasurer> measurer);
    // Replaces the generator random colours come from (null: the process's
    // own). The caller keeps `source` alive while the window uses it.
    void setColourSource(ColourSource *source) { m_colourSource = source; }

    // The handlers. Each one catches everything it raises and reports it.
    void FormShow();
    void btnPreviewClick();
    void N1Click(QObject *sender);
    // Ctrl+Shift+C: copies the last preview to the clipboard and says so in
    // lblcopy for a moment.
    void actCopyExecute();

    // The save dialog, built the first time it is needed: Qt's file dialog
    // is costly to build, and once destroyed it rewrites Qt's dialog
    // settings, which a run that saves nothing should leave alone. It then
    // lives as long as the window.
    SaveDialog *SaveDialog1();

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Components, named as designed; each has its name as object name too,
    // which is how code outside the window finds one. Owned by the window's
    // widget tree.
    QLabel *lblpreview;
    Panel *Panel2;
    QGroupBox *cxGroupBox1;
    Panel *Panel1;
    FontNameList *cbbfont;
    QCheckBox *chkbold;
    QCheckBox *chkstatic;
    QCheckBox *chkul;
    QCheckBox *chkso;
    Panel *Panel3;
    RadioGroup *cxRadioGroup2;
    RadioGroup *cxRadioGroup1;
    Panel *Panel5;
    SpinEdit *cxSpinEdit1;
    Panel *Panel4;
    RadioGroup *cxRadioGroup3;
    Panel *Panel6;
    ColourEdit *dxColorEdit1;
    Panel *Panel7;
    ColourEdit *dxColorEdit2;
    QLineEdit *edtMain;
    QPushButton *btnPreview;
    QPushButton *btnsave;
    Panel *pnlsave;
    Panel *pnlMain;
    QMenu *pm1;
    QAction *N1;
    QAction *PNG1;
    QAction *actCopy;
    QLabel *lblcopy;

    void buildSettings(FontEnumerator fontEnumerator);
    void buildCommands();
    void buildPreviewRegion();
    void buildCopyCommand();
    void showCopyNote(const QString &note);
    void fitToScreen();
    void centreOnScreen();
    void guarded(const std::function<void()> &handler);

    std::unique_ptr<TextMeasurer> m_measurer;
    ColourSource *m_colourSource = nullptr;
    ErrorReporter m_reportError = showErrorReport;
    bool m_shownOnce = false;
    SaveDialog *m_saveDialog = nullptr; // owned by the window once built
    QTimer *m_copyNoteTimer = nullptr;
};
