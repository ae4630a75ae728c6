#include "export/clipboard_picture.h"

#include "composition/strip_rendering.h"
#include "export/alpha_png.h"

#include <QBuffer>

std::unique_ptr<QMimeData> stripMimeData(const StripLayout &layout, const QColor &ink, qreal devicePixelRatio)
{
    if (layout.cells.empty())
        return nullptr;
    const QImage strip = renderStrip(layout, StripGround::Transparent, ink, devicePixelRatio);
    if (strip.isNull())
        return nullptr;

    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    writeAlphaPng(strip, buffer);

    auto data = std::make_unique<QMimeData>();
    // Formats are offered in the order they are set: the PNG first, so
    // that a program taking the first picture type it knows gets the alpha.
    data->setData(kPngMimeType, png);
    // Every other picture type (BMP, JPEG, ...) Qt derives from this image
    // when a program asks for it, and those formats have no alpha: a
    // transparent ground would come out black. They get the strip as saved,
    // on its white ground.
    data->setImageData(renderStrip(layout, StripGround::White, ink, devicePixelRatio));
    return data;
}
