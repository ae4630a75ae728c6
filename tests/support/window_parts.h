#pragma once

#include "app/fontlist/font_name_list.h"
#include "app/kit/colour_edit.h"
#include "app/kit/panel.h"
#include "app/kit/radio_group.h"
#include "app/kit/spin_edit.h"
#include "app/window/MainUnt.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

// The main window's components as a test reaches them: by the object names
// they were designed with, the way any code outside the window must, since
// the window keeps its members to itself. A name that is missing or names an
// object of another kind stops the test program at once, naming it.
class WindowParts {
    const TMainFrm &m_window; // first: every part below is found through it

    template <typename Part> Part *find(const char *name) const
    {
        auto *part = m_window.findChild<Part *>(QLatin1StringView(name));
        if (!part)
            qFatal("the main window has no %s of the expected kind", name);
        return part;
    }

public:
    explicit WindowParts(const TMainFrm &window) : m_window(window) {}

    QLabel *const lblpreview = find<QLabel>("lblpreview");
    Panel *const Panel2 = find<Panel>("Panel2");
    QGroupBox *const cxGroupBox1 = find<QGroupBox>("cxGroupBox1");
    Panel *const Panel1 = find<Panel>("Panel1");
    FontNameList *const cbbfont = find<FontNameList>("cbbfont");
    QCheckBox *const chkbold = find<QCheckBox>("chkbold");
    QCheckBox *const chkstatic = find<QCheckBox>("chkstatic");
    QCheckBox *const chkul = find<QCheckBox>("chkul");
    QCheckBox *const chkso = find<QCheckBox>("chkso");
    Panel *const Panel3 = find<Panel>("Panel3");
    RadioGroup *const cxRadioGroup2 = find<RadioGroup>("cxRadioGroup2");
    RadioGroup *const cxRadioGroup1 = find<RadioGroup>("cxRadioGroup1");
    Panel *const Panel5 = find<Panel>("Panel5");
    SpinEdit *const cxSpinEdit1 = find<SpinEdit>("cxSpinEdit1");
    Panel *const Panel4 = find<Panel>("Panel4");
    RadioGroup *const cxRadioGroup3 = find<RadioGroup>("cxRadioGroup3");
    Panel *const Panel6 = find<Panel>("Panel6");
    ColourEdit *const dxColorEdit1 = find<ColourEdit>("dxColorEdit1");
    Panel *const Panel7 = find<Panel>("Panel7");
    ColourEdit *const dxColorEdit2 = find<ColourEdit>("dxColorEdit2");
    QLineEdit *const edtMain = find<QLineEdit>("edtMain");
    QPushButton *const btnPreview = find<QPushButton>("btnPreview");
    QPushButton *const btnsave = find<QPushButton>("btnsave");
    Panel *const pnlsave = find<Panel>("pnlsave");
    Panel *const pnlMain = find<Panel>("pnlMain");
    QMenu *const pm1 = find<QMenu>("pm1");
    QAction *const N1 = find<QAction>("N1");
    QAction *const PNG1 = find<QAction>("PNG1");
    QAction *const actCopy = find<QAction>("actCopy");
    QLabel *const lblcopy = find<QLabel>("lblcopy");
};
