#include "export/alpha_png.h"

#include "composition/font_request.h"
#include "composition/image_memory.h"
#include "export/export_errors.h"
#include "export/file_output.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <cmath>

namespace {

constexpr double kInchesPerMetre = 1.0 / 0.0254;

void checkImage(const QImage &image)
{
    if (image.isNull())
        throw emptyPictureError();
}

QByteArray encodeAlphaPng(const QImage &image)
{
    checkImage(image);
    // Straight alpha, because that is what PNG stores; ARGB32 always has an
    // alpha channel, so the encoder writes RGBA even for an opaque picture.
    QImage straight = convertedHere(image, QImage::Format_ARGB32);
    // A fresh QImage takes the screen's density, which would make the bytes
    // depend on the machine; record the strip's own.
    const int dotsPerMetre = int(std::lround(kDesignDpi * image.devicePixelRatio() * kInchesPerMetre));
    straight.setDotsPerMeterX(dotsPerMetre);
    straight.setDotsPerMeterY(dotsPerMetre);

    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(straight))
        throw QuillowError(QStringLiteral("PNG 编码失败：%1。").arg(writer.errorString()));
    return encoded;
}

} // namespace

void writeAlphaPng(const QImage &image, QIODevice &device)
{
    const QByteArray encoded = encodeAlphaPng(image);
    writeExactly(device, encoded.constData(), encoded.size());
}

void writeAlphaPngFile(const QImage &image, const QString &path)
{
    const QByteArray encoded = encodeAlphaPng(image);
    writeBytesReplacing(path, encoded);
}
