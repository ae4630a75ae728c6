#include "export/sticker.h"

#include "composition/quillow_error.h"
#include "composition/strip_rendering.h"
#include "export/alpha_png.h"

#include <QBuffer>

// A first cut: the still strip as an RGBA PNG. Effects, presets, outline and
// the other formats come with their encoders.
Sticker makeSticker(const StripLayout &layout, const QColor &ink, const StickerOptions &options,
                    const std::atomic<bool> *cancel)
{
    Q_UNUSED(options);
    if (cancel && cancel->load())
        throw StickerCancelled{};
    Sticker sticker;
    const QImage image = renderStrip(layout, StripGround::Transparent, ink);
    if (image.isNull())
        throw QuillowError(QStringLiteral("没有可导出的图片"));
    QBuffer buffer(&sticker.bytes);
    buffer.open(QIODevice::WriteOnly);
    writeAlphaPng(image, buffer);
    sticker.formatName = QStringLiteral("png-alpha");
    sticker.suffix = QStringLiteral("png");
    sticker.mimeType = QStringLiteral("image/png");
    sticker.size = image.size();
    sticker.shown.frames.push_back({image.convertToFormat(QImage::Format_ARGB32_Premultiplied), 0});
    return sticker;
}
