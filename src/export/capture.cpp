#include "export/capture.h"

#include <QImage>
#include <QPainter>
#include <QWidget>

#include <cmath>

Raster CaptureOutputArea(QWidget *outputArea)
{
    Raster picture;
    if (!outputArea)
        return picture;

    // Rendering into our own image paints the widget and its children in
    // full, unaffected by whatever clips or covers it on screen. The image is
    // sized in device pixels so that a high-dpi screen's detail is kept.
    const qreal ratio = outputArea->devicePixelRatioF();
    const QSize logical = outputArea->size();
    const QSize physical(int(std::lround(logical.width() * ratio)), int(std::lround(logical.height() * ratio)));
    if (physical.isEmpty())
        return picture;

    QImage image(physical, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    outputArea->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);

    picture.width = image.width();
    picture.height = image.height();
    // True colour, as on every display the program runs on.
    picture.depth = 32;
    picture.pixels.resize(std::size_t(picture.width) * std::size_t(picture.height));
    for (int y = 0; y < picture.height; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        std::copy(line, line + picture.width, picture.pixels.begin() + std::ptrdiff_t(y) * picture.width);
    }
    return picture;
}
