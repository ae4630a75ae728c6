// The floor that one quillow-render strip is measured against: the least an
// offscreen Qt program does to draw a line of Chinese into a picture and save
// it as PNG. Both start Qt's GUI, load a Chinese face and write a file.
//
// usage: strip_floor OUTPUT.png

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2)
        return 2;
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPointSize(60);
    QImage picture(900, 160, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.setFont(font);
    painter.drawText(picture.rect(), Qt::AlignCenter, QStringLiteral("友谊的小船说翻就翻"));
    painter.end();
    return picture.save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
