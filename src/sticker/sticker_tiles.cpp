#include "sticker/sticker_tiles.h"

#include "composition/image_memory.h"
#include "composition/quillow_error.h"
#include "composition/row_layout.h"
#include "composition/text_measurer.h"

#include <QPainter>
#include <QRegularExpression>

#include <algorithm>
#include <new>

void checkTileGrid(TileGrid grid)
{
    if (grid.automatic())
        return;
    if (grid.columns < 1 || grid.columns > kMaxTileColumns || grid.rows < 1 || grid.rows > kMaxRows)
        throw QuillowError(QStringLiteral("拆成的表情须为 1 到 %1 列、1 到 %2 行，或 auto（自动）")
                               .arg(kMaxTileColumns)
                               .arg(kMaxRows));
}

TileGrid parseTileGrid(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed == QLatin1String("auto"))
        return {};
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{1,3})[xX×]([0-9]{1,3})$"));
    const QRegularExpressionMatch match = pattern.match(trimmed);
    if (!match.hasMatch())
        throw QuillowError(QStringLiteral("“%1”不是表情的拆法：请写成 列x行（如 3x1），或 auto").arg(text));
    const TileGrid grid{match.captured(1).toInt(), match.captured(2).toInt()};
    // "0x0" would read as automatic.
    if (grid.automatic())
        checkTileGrid({-1, -1});
    checkTileGrid(grid);
    return grid;
}

QString tileGridText(TileGrid grid)
{
    if (grid.automatic())
        return QStringLiteral("auto");
    return QStringLiteral("%1x%2").arg(grid.columns).arg(grid.rows);
}

StickerFit fitTiles(const StripLayout &layout, TileGrid grid, int side, const QMargins &margins,
                    const std::atomic<bool> *cancel)
{
    checkTileGrid(grid);
    if (grid.automatic()) {
        StickerFit fit = fitStripInBox(layout, QSize(kMaxTileColumns * side, side), margins, cancel);
        const int columns = (fit.canvas.width() + side - 1) / side;
        fit.canvas = QSize(columns * side, side);
        return fit;
    }
    FontTextMeasurer measurer;
    StickerFit fit = fitStripInBox(inRows(layout, grid.rows, measurer),
                                   QSize(grid.columns * side, grid.rows * side), margins, cancel);
    fit.canvas = QSize(grid.columns * side, grid.rows * side);
    return fit;
}

std::vector<Animation> cutIntoTiles(const Animation &animation, int columns, int side)
{
    Q_ASSERT(!animation.frames.empty() && animation.frames.front().image.width() == columns * side);
    const int rows = animation.frames.front().image.height() / side;
    std::vector<Animation> tiles(std::size_t(columns * rows));
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            Animation &tile = tiles[std::size_t(row * columns + column)];
            tile.loopCount = animation.loopCount;
            const QRect square(column * side, row * side, side, side);
            for (const AnimationFrame &frame : animation.frames) {
                QImage piece = frame.image.copy(square);
                if (piece.isNull())
                    throw std::bad_alloc();
                tile.frames.push_back({std::move(piece), frame.delayMs});
            }
        }
    }
    return tiles;
}

Animation tilesSideBySide(const std::vector<Animation> &tiles, TileGrid grid, int gap)
{
    Q_ASSERT(!tiles.empty() && int(tiles.size()) == grid.columns * grid.rows);
    const QSize side = tiles.front().frames.front().image.size();
    const QSize whole(grid.columns * side.width() + (grid.columns - 1) * gap,
                      grid.rows * side.height() + (grid.rows - 1) * gap);
    Animation shown;
    shown.loopCount = tiles.front().loopCount;
    for (std::size_t frame = 0; frame < tiles.front().frames.size(); ++frame) {
        QImage image = newImage(whole, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        for (std::size_t index = 0; index < tiles.size(); ++index) {
            const std::vector<AnimationFrame> &frames = tiles[index].frames;
            const int column = int(index) % grid.columns;
            const int row = int(index) / grid.columns;
            painter.drawImage(QPoint(column * (side.width() + gap), row * (side.height() + gap)),
                              frames[std::min(frame, frames.size() - 1)].image);
        }
        painter.end();
        shown.frames.push_back({std::move(image), tiles.front().frames[frame].delayMs});
    }
    return shown;
}
