#pragma once

#include "app/error_report.h"
#include "app/frame_player.h"
#include "composition/strip_layout.h"
#include "export/sticker.h"

#include <QColor>
#include <QDialog>
#include <QThreadPool>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSettings;
class QSpinBox;
class ColourEdit;
class SaveDialog;

// The shake of a sticker made in the window trembles by this seed, so that
// `quillow-render --seed 1` with the same settings writes the same bytes.
inline constexpr std::uint32_t kWindowStickerSeed = 1;
// The grounds the GIF matte choices blend soft edges onto: a chat's light
// theme (white) and a typical dark theme (#1E1E1E).
inline const QColor kLightMatte(0xFF, 0xFF, 0xFF);
inline const QColor kDarkMatte(0x1E, 0x1E, 0x1E);

// The choices the sticker dialog offers, with the command line's names.
struct StickerChoices {
    QString preset = QStringLiteral("wechat"); // "" for 自定义
    QString effect = QStringLiteral("reveal");
    bool outline = true;
    QColor outlineColour = Qt::white;
    int outlineWidth = 3; // 1 .. 12, kept while the outline is off
    bool shadow = false;
    QString matte = QStringLiteral("transparent"); // "transparent", "light", "dark"
    PreviewGround ground = PreviewGround::Checkerboard;

    // The choices stored in `settings`, each one that is missing or not
    // understood replaced by its first-time value; an effect the preset
    // forbids becomes "still".
    static StickerChoices load(QSettings &settings);
    void save(QSettings &settings) const;

    // What makeSticker() is asked for, with kWindowStickerSeed.
    StickerOptions options() const;
};

// Whether `preset` allows animated effects (Telegram's animated stickers are
// video, which Quillow does not make).
bool presetAnimates(const QString &preset);
// Whether the sticker of `preset` and `effect` is a GIF, whose one-bit
// transparency is what the matte is for.
bool stickerIsGif(const QString &preset, const QString &effect);

// Makes one sticker; makeSticker() unless a test puts another in its place.
using StickerMaker = std::function<Sticker(const StripLayout &, const QColor &, const StickerOptions &,
                                           const std::atomic<bool> *)>;

// "导出贴纸": the choices, a live preview of the sticker they make with its
// size against the preset's cap, and save and copy. Every change of choice
// makes the sticker again on a worker thread, stopping the one still in the
// making; the dialog keeps responding throughout, and at most one sticker is
// made at a time. Save or copy asked for while a sticker is being made is
// carried out once it is ready. The choices are remembered whenever they
// change, in QSettings(UserScope, "Quillow", "Quillow").
class StickerDialog : public QDialog {
    Q_OBJECT
public:
    // `layout` is the coloured strip of the last preview, `ink` the colour of
    // its cells without one, `phrase` the phrase the file name is proposed
    // from; failures go to `report`.
    StickerDialog(StripLayout layout, QColor ink, QString phrase, ErrorReporter report, QWidget *parent,
                  StickerMaker maker = ::makeSticker);
    ~StickerDialog() override;

    StickerChoices choices() const;
    // The sticker on show; null while the first is being made or after a
    // failure.
    const Sticker *sticker() const { return m_sticker ? &*m_sticker : nullptr; }
    bool isMaking() const { return m_making; }

    // The save-file dialog, built the first time it is needed.
    SaveDialog *saveDialog();

public slots:
    // "保存…": asks where, then writes the sticker there.
    void save();
    // "复制": the sticker's bytes in its own MIME type, and a file in the
    // cache folder as a text/uri-list.
    void copy();

signals:
    // A newly made sticker is on show (or a failure, then sticker() is null).
    void stickerUpdated();

private:
    enum class Pending { Nothing, Save, Copy };

    void buildControls();
    void restore(const StickerChoices &choices);
    void choicesChanged();
    void updateAllowedChoices();
    void startMaking();
    void stickerMade(std::optional<Sticker> sticker, const QString &error);
    void showMeter();
    void showNotes();
    void carryOut(Pending action);

    StripLayout m_layout;
    QColor m_ink;
    QString m_phrase;
    ErrorReporter m_report;
    StickerMaker m_maker;

    QComboBox *m_preset;
    QComboBox *m_effect;
    QCheckBox *m_outline;
    ColourEdit *m_outlineColour;
    QSpinBox *m_outlineWidth;
    QCheckBox *m_shadow;
    QComboBox *m_matte;
    QComboBox *m_ground;
    FramePlayer *m_player;
    QLabel *m_pixels;
    QLabel *m_bytes;
    QLabel *m_notes;
    QPushButton *m_saveButton;
    QPushButton *m_copyButton;
    SaveDialog *m_saveDialog = nullptr; // owned by the dialog once built

    bool m_restoring = false;
    bool m_making = false;
    Pending m_pending = Pending::Nothing;
    std::optional<Sticker> m_sticker;
    QString m_error;
    int m_generation = 0;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    // One worker, so a cancelled sticker finishes stopping before the next
    // starts and the dialog never takes more than one core.
    QThreadPool m_workers;
};
