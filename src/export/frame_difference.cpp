#include "export/frame_difference.h"

#include <algorithm>
#include <cassert>

QRect changedRect(const PixelCodes &before, const PixelCodes &after, int width)
{
    assert(before.size() == after.size() && width > 0);
    const int height = int(before.size() / std::size_t(width));
    int left = width, right = -1, top = -1, bottom = -1;
    for (int y = 0; y < height; ++y) {
        const std::uint32_t *was = before.data() + std::size_t(y) * std::size_t(width);
        const std::uint32_t *now = after.data() + std::size_t(y) * std::size_t(width);
        int first = 0;
        while (first < width && was[first] == now[first])
            ++first;
        if (first == width)
            continue;
        int last = width - 1;
        while (was[last] == now[last])
            --last;
        if (top < 0)
            top = y;
        bottom = y;
        left = std::min(left, first);
        right = std::max(right, last);
    }
    if (top < 0)
        return {};
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

void fillRect(PixelCodes &canvas, int width, const QRect &rect, std::uint32_t code)
{
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        auto row = canvas.begin() + std::ptrdiff_t(y) * width;
        std::fill(row + rect.left(), row + rect.right() + 1, code);
    }
}
