#pragma once

#include "app/fontlist/font_name_list.h"
#include "app/shell/error_report.h"
#include "composition/strip_settings.h"

#include <QPointer>
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
class StickerDialog;
class StripView;
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
    // Ctrl+E: opens the sticker dialog "导出贴纸" for the last preview, or
    // says "请先预览" in lblcopy when there is none. When the controls have
    // changed since that preview, previews them first (and opens nothing if
    // that fails), so the sticker is of what the controls say.
    void actExportExecute();
    // The sticker dialog while it is open.
    StickerDialog *stickerDialog() const;

    // The save dialog, built the first time it is needed: Qt's file dialog
    // is costly to build, and once destroyed it rewrites Qt's dialog
    // settings, which a run that saves nothing should leave alone. It then
    // lives as long as the window.
    SaveDialog *SaveDialog1();

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Components, named as designed; each has its name as object name too,
    // which is how code outside the window finds one. Owned by the window's
    // widget tree. The key: what each is, and where it sits on screen.
    QLabel *lblpreview;        // measuring label "我", never seen: above the client area
    Panel *Panel2;             // settings and commands, along the window's bottom, 187 high
    QGroupBox *cxGroupBox1;    // "设置" frame, left part of Panel2
    Panel *Panel1;             // face and style column, leftmost in cxGroupBox1
    FontNameList *cbbfont;     // font-name list, top of Panel1
    QCheckBox *chkbold;        // "加粗", below cbbfont
    QCheckBox *chkstatic;      // "斜体" (italic), below chkbold
    QCheckBox *chkul;          // "下划线" (underline), below chkstatic
    QCheckBox *chkso;          // "删除线" (strike-out), bottom of Panel1
    Panel *Panel3;             // alignment and spacing column, middle of cxGroupBox1
    RadioGroup *cxRadioGroup2; // "横对齐" horizontal alignment, top of Panel3
    RadioGroup *cxRadioGroup1; // "纵对齐" vertical alignment, below cxRadioGroup2
    Panel *Panel5;             // "间隔" spacing row, below cxRadioGroup1
    SpinEdit *cxSpinEdit1;     // spacing in pixels, right end of Panel5
    Panel *Panel4;             // colour column, right part of cxGroupBox1
    RadioGroup *cxRadioGroup3; // "颜色" colouring mode, top of Panel4
    Panel *Panel6;             // "起始色" start-colour row, below cxRadioGroup3
    ColourEdit *dxColorEdit1;  // start colour, right end of Panel6
    Panel *Panel7;             // "终止色" end-colour row, below Panel6
    ColourEdit *dxColorEdit2;  // end colour, right end of Panel7
    QLineEdit *edtMain;        // the phrase, right of cxGroupBox1 in Panel2
    QPushButton *btnPreview;   // "预览", below edtMain on the left
    QPushButton *btnsave;      // "保存图片", below edtMain on the right; opens pm1
    Panel *pnlsave;            // white preview region, all of the window above Panel2
    Panel *pnlMain;            // output area holding the strip, placed inside pnlsave
    QMenu *pm1;                // btnsave's menu, below the button
    QAction *N1;               // pm1's "BMP格式"
    QAction *PNG1;             // pm1's "PNG格式"
    QAction *actCopy;          // Ctrl+Shift+C, copies the strip; no place of its own
    QLabel *lblcopy;           // the copy note, beside btnsave
    QAction *actExport;        // Ctrl+E, opens the sticker dialog; no place of its own
    QMenu *pmStrip;            // the output area's context menu: actCopy and actExport

    void buildSettings(FontEnumerator fontEnumerator);
    void buildCommands();
    void buildPreviewRegion();
    void buildCopyCommand();
    void buildStripCommands();
    const StripView *shownStrip() const;
    // The strip on show, or null after saying "请先预览" in lblcopy.
    const StripView *previewedStrip();
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
    QPointer<StickerDialog> m_stickerDialog;
    StripSettings m_previewedSettings; // what the strip on show was made from
};
