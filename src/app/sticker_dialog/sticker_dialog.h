#pragma once

#include "app/shell/error_report.h"
#include "app/sticker_dialog/frame_player.h"
#include "composition/strip_layout.h"
#include "sticker/sticker.h"
#include "sticker/sticker_preset.h"
#include "sticker/sticker_tiles.h"

#include <vector>

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
class QLayout;
class QLineEdit;
class QPushButton;
class QSettings;
class QSpinBox;
class QTimer;
struct OutputFileFormat;
class ColourEdit;
class SaveDialog;

// The shake of a sticker made in the window trembles by this seed, so that
// `quillow-render --seed 1` with the same settings writes the same bytes.
inline constexpr std::uint32_t kWindowStickerSeed = 1;
// The grounds the GIF matte choices blend soft edges onto: a chat's light
// theme (white) and a typical dark theme (#1E1E1E).
inline const QColor kLightMatte(0xFF, 0xFF, 0xFF);
inline const QColor kDarkMatte(0x1E, 0x1E, 0x1E);

// The choices the sticker dialog offers. The effect and the format are the
// ones the user chose, kept even where the preset does not allow them, so
// that they come back with a preset that does; options() says what is made
// of them.
struct StickerChoices {
    const StickerPreset *preset = stickerPresetNamed(u"wechat"); // null for 自定义
    Effect effect = Effect::Reveal;
    const OutputFileFormat *format = nullptr; // null for the first the preset takes
    bool outline = true;
    QColor outlineColour = Qt::white;
    int outlineWidth = 3; // 1 .. 12, kept while the outline is off
    // The readable look's dark rim round the outline, on at first: a white
    // outline alone vanishes on a white chat.
    bool outlineEdge = true;
    bool shadow = false;
    QColor shadowColour = StickerLook().shadowColour; // with its opacity
    QPoint shadowOffset = StickerLook().shadowOffset;
    int shadowBlur = StickerLook().shadowBlur;
    QString matte = QStringLiteral("transparent"); // "transparent", "light", "dark"
    PreviewGround ground = PreviewGround::Checkerboard;
    int rows = 0;     // 1 .. 4 lines; 0: automatic
    QString tiles;    // "": one sticker; "auto" or "CxR": cut into emoji (presets that name emoji only)
    QString tileName; // the emoji's base name; empty: from the file name, as the command line does

    // The choices stored in `settings`, each one that is missing or not
    // understood replaced by its first-time value.
    static StickerChoices load(QSettings &settings);
    void save(QSettings &settings) const;

    // The effect made: the one chosen where the preset animates, else the still.
    Effect effectMade() const;
    // The formats the preset takes for effectMade(), the first the default.
    std::vector<const OutputFileFormat *> formatsOffered() const;
    // The format made: the one chosen where it is offered, else the first.
    const OutputFileFormat &formatMade() const;

    // What makeSticker() is asked for, with kWindowStickerSeed.
    StickerOptions options() const;
    // The grid makeStickerTiles() is asked for; none when tiles are off or
    // the preset's chat does not show emoji side by side.
    std::optional<TileGrid> tileGrid() const;
};

// `text` with its clauses kept whole when a label wraps it: a line may break
// only at a space or after a Chinese punctuation mark, never inside a word.
QString wrappedAtClauses(const QString &text);

// Makes one sticker; makeSticker() unless a test puts another in its place.
using StickerMaker = std::function<Sticker(const StripLayout &, const QColor &, const StickerOptions &,
                                           const std::atomic<bool> *)>;

// "导出贴纸": the choices, a live preview of the sticker they make with its
// size against the preset's cap, and save and copy. Every change of choice
// makes the sticker again on a worker thread, stopping the one still in the
// making; the dialog keeps responding throughout, and at most one sticker is
// made at a time. Save or copy asked for while a sticker is being made is
// carried out once it is ready. The preview plays the file's own bytes
// decoded again, so what plays is what is sent. The choices are remembered
// whenever they change, in QSettings(UserScope, "Quillow", "Quillow").
class StickerDialog : public QDialog {
    Q_OBJECT
public:
    // `layout` is the coloured strip of the last preview, `ink` the colour of
    // its cells without one, `phrase` the phrase it shows (named in the
    // dialog, and the file name is proposed from it); failures go to `report`.
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
    // "保存…": asks where, then writes the sticker there. A name whose suffix
    // names another format the preset takes makes the sticker in that format
    // first; any other name gets the format's suffix added.
    void save();
    // "复制": the sticker's bytes in its own MIME type, a PNG of its last
    // frame where the sticker is no PNG, and a file in the cache folder in the
    // file managers' own types.
    void copy();

protected:
    void showEvent(QShowEvent *event) override;

signals:
    // A newly made sticker is on show (or a failure, then sticker() is null).
    void stickerUpdated();

private:
    enum class Pending { Nothing, Save, SaveTo, Copy };

    void buildControls();
    QLayout *buildShadowControls();
    void restore(const StickerChoices &choices);
    void choicesChanged();
    void updateAllowedChoices();
    void startMaking();
    void stickerMade(std::optional<Sticker> sticker, std::optional<StickerTiles> tiles, Animation played,
                     const QString &error);
    void showMeter();
    void showNotes();
    void showDone(const QString &note);
    void growToShowSticker();
    void carryOut(Pending action);
    void askWhereAndSave(const Sticker &sticker);
    void writeSticker(const QString &path, const Sticker &sticker);
    void copyToClipboard(const Sticker &sticker);
    void askWhereAndSaveTiles(const StickerTiles &tiles);
    void copyPasteText(const StickerTiles &tiles);
    // The base name of `count` tiles saved as `savedAs` (empty: not yet
    // saved): `typed` when given (throws QuillowError when the chat would
    // refuse it), else the command line's default.
    QString tileBaseNameFor(const QString &savedAs, int count, const QString &typed) const;

    StripLayout m_layout;
    QColor m_ink;
    QString m_phrase;
    ErrorReporter m_report;
    StickerMaker m_maker;

    QComboBox *m_preset;
    QComboBox *m_effect;
    QComboBox *m_format;
    QCheckBox *m_outline;
    ColourEdit *m_outlineColour;
    QSpinBox *m_outlineWidth;
    QCheckBox *m_outlineEdge;
    QCheckBox *m_shadow;
    ColourEdit *m_shadowColour;
    QSpinBox *m_shadowOpacity;
    QSpinBox *m_shadowX;
    QSpinBox *m_shadowY;
    QSpinBox *m_shadowBlur;
    QComboBox *m_rows;
    QCheckBox *m_tilesOn;
    QLineEdit *m_tileName;
    QComboBox *m_tileGrid;
    QComboBox *m_matte;
    QComboBox *m_ground;
    FramePlayer *m_player;
    QLabel *m_pixels;
    QLabel *m_bytes;
    QLabel *m_notes;
    QLabel *m_done; // a short note after a save or a copy
    QTimer *m_doneTimer;
    QPushButton *m_saveButton;
    QPushButton *m_copyButton;
    SaveDialog *m_saveDialog = nullptr; // owned by the dialog once built

    // The effect and format last chosen; the lists show them where allowed.
    Effect m_wantedEffect = Effect::Still;
    const OutputFileFormat *m_wantedFormat = nullptr;
    bool m_restoring = false;
    bool m_making = false;
    Pending m_pending = Pending::Nothing;
    QString m_pendingPath;            // where Pending::SaveTo writes
    std::optional<Sticker> m_sticker; // with tiles, the first of them
    std::optional<StickerTiles> m_tiles;
    QString m_tilesSavedAs; // the name the tiles were last saved under, which the paste text uses
    Animation m_played;     // m_sticker's file decoded
    QString m_error;
    int m_generation = 0;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    // One worker, so a cancelled sticker finishes stopping before the next
    // starts and the dialog never takes more than one core.
    QThreadPool m_workers;
};
