#include "app/window/capture.h"

#include <QImage>
#include <QPainter>
#include <QWidget>

#include <cmath>

Raster CaptureOutputArea(QWidget *outputArea)
{
    if (!outputArea)
        return {};

    // Rendering into our own image paints the widget and its children in
    // full, unaffected by whatever clips or covers it on screen. The image is
    // sized in device pixels so that a high-dpi screen's detail is kept.
    const qreal ratio = outputArea->devicePixelRatioF();
    const QSize logical = outputArea->size();
    const QSize physical(int(std::lround(logical.width() * ratio)),
                         int(std::lround(logical.height() * ratio)));
    if (physical.isEmpty())
        return {};

    QImage image(physical, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    outputArea->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);

    return rasterFromImage(image);
}
