#include "app/fontlist/own_name_mask.h"

#include <QFontDatabase>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

namespace {

// Where fontconfig keeps the regular face of a family.
struct FaceFile {
    QByteArray path;
    int index = 0;
};

// The regular face of `family` ("Name" or "Name [Foundry]", as Qt lists it),
// unless fontconfig would give another family in its place or the face is
// drawn in colour: a colour face is large, and draws pictures, not letters.
std::optional<FaceFile> regularFaceOf(const QString &family)
{
    QString name = family;
    QString foundry;
    const qsizetype bracket = family.indexOf(QLatin1String(" ["));
    if (bracket > 0 && family.endsWith(QLatin1Char(']'))) {
        name = family.left(bracket);
        foundry = family.mid(bracket + 2, family.size() - bracket - 3);
    }
    const QByteArray nameUtf8 = name.toUtf8();
    const QByteArray foundryUtf8 = foundry.toUtf8();
    const std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> pattern(FcPatternCreate(),
                                                                          FcPatternDestroy);
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8 *>(nameUtf8.constData()));
    if (!foundry.isEmpty())
        FcPatternAddString(pattern.get(), FC_FOUNDRY,
                           reinterpret_cast<const FcChar8 *>(foundryUtf8.constData()));
    FcPatternAddInteger(pattern.get(), FC_WEIGHT, FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern.get(), FC_SLANT, FC_SLANT_ROMAN);
    FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    const std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> match(
        FcFontMatch(nullptr, pattern.get(), &result), FcPatternDestroy);
    if (!match)
        return std::nullopt;

    bool sameFamily = false;
    FcChar8 *matched = nullptr;
    for (int at = 0; !sameFamily && FcPatternGetString(match.get(), FC_FAMILY, at, &matched) == FcResultMatch;
         ++at)
        sameFamily =
            QString::fromUtf8(reinterpret_cast<const char *>(matched)).compare(name, Qt::CaseInsensitive) ==
            0;
    FcBool colour = FcFalse;
    FcChar8 *path = nullptr;
    FaceFile face;
    if (!sameFamily || (FcPatternGetBool(match.get(), FC_COLOR, 0, &colour) == FcResultMatch && colour) ||
        FcPatternGetString(match.get(), FC_FILE, 0, &path) != FcResultMatch)
        return std::nullopt;
    face.path = reinterpret_cast<const char *>(path);
    FcPatternGetInteger(match.get(), FC_INDEX, 0, &face.index);
    return face;
}

// FreeType reads the file through these, a few bytes at a time, instead of
// mapping all of it: the kernel may count a whole mapped file as the
// program's memory even when only its character map is read.
unsigned long readFile(FT_Stream stream, unsigned long offset, unsigned char *buffer, unsigned long count)
{
    if (count == 0) // a seek: 0 when it lands inside the file
        return offset > stream->size ? 1 : 0;
    const ssize_t got = pread(int(stream->descriptor.value), buffer, count, off_t(offset));
    return got < 0 ? 0 : static_cast<unsigned long>(got);
}

// FreeType's handles, released in the order they were taken.
struct FaceReader {
    int file = -1;
    FT_StreamRec stream{};
    FT_Library library = nullptr;
    FT_Face face = nullptr;

    ~FaceReader()
    {
        if (face)
            FT_Done_Face(face);
        if (library)
            FT_Done_FreeType(library);
        if (file >= 0)
            ::close(file);
    }

    bool open(const FaceFile &where)
    {
        file = ::open(where.path.constData(), O_RDONLY | O_CLOEXEC);
        struct stat status {};
        if (file < 0 || fstat(file, &status) != 0 || FT_Init_FreeType(&library) != 0)
            return false;
        stream.size = static_cast<unsigned long>(status.st_size);
        stream.descriptor.value = file;
        stream.read = readFile;
        FT_Open_Args arguments{};
        arguments.flags = FT_OPEN_STREAM;
        arguments.stream = &stream;
        return FT_Open_Face(library, &arguments, where.index, &face) == 0 && face->charmap;
    }

    // Scalable faces at `pixels`; a bitmap face at its nearest size.
    bool setSize(int pixels)
    {
        if (FT_IS_SCALABLE(face))
            return FT_Set_Pixel_Sizes(face, 0, FT_UInt(pixels)) == 0;
        if (face->num_fixed_sizes <= 0)
            return false;
        int nearest = 0;
        for (int at = 1; at < face->num_fixed_sizes; ++at)
            if (std::abs(face->available_sizes[at].height - pixels) <
                std::abs(face->available_sizes[nearest].height - pixels))
                nearest = at;
        return FT_Select_Size(face, nearest) == 0;
    }
};

// One glyph's coverage at its place on the baseline, in device pixels.
struct PlacedGlyph {
    QImage coverage;
    QPoint at; // top left, relative to the pen's start on the baseline
};

QImage coverageOf(const FT_Bitmap &bitmap)
{
    QImage coverage(int(bitmap.width), int(bitmap.rows), QImage::Format_Alpha8);
    for (int y = 0; y < coverage.height(); ++y) {
        const unsigned char *source = bitmap.buffer + qptrdiff(y) * bitmap.pitch;
        uchar *line = coverage.scanLine(y);
        for (int x = 0; x < coverage.width(); ++x)
            line[x] = bitmap.pixel_mode == FT_PIXEL_MODE_MONO ? ((source[x / 8] >> (7 - x % 8)) & 1) * 255
                                                              : source[x];
    }
    return coverage;
}

} // namespace

QImage ownNameMask(const QString &family, int pixelSize, int nameRoom, qreal scale)
{
    // A symbol face would draw the letters of its name as pictures.
    if (QFontDatabase::writingSystems(family).contains(QFontDatabase::Symbol))
        return {};
    const std::optional<FaceFile> where = regularFaceOf(family);
    FaceReader reader;
    if (!where || !reader.open(*where) || !reader.setSize(qRound(pixelSize * scale)))
        return {};
    const FT_Face face = reader.face;
    const bool kerning = FT_HAS_KERNING(face);

    QList<PlacedGlyph> glyphs;
    FT_Pos pen = 0; // 26.6 fixed point, as FreeType measures
    int right = 0;
    FT_UInt previous = 0;
    for (const uint character : family.toUcs4()) {
        const FT_UInt glyph = FT_Get_Char_Index(face, character);
        if (glyph == 0 || character < 0x20)
            return {};
        if (kerning && previous) {
            FT_Vector delta{};
            if (FT_Get_Kerning(face, previous, glyph, FT_KERNING_DEFAULT, &delta) == 0)
                pen += delta.x;
        }
        if (FT_Load_Glyph(face, glyph, FT_LOAD_TARGET_LIGHT) != 0 ||
            FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0)
            return {};
        const FT_GlyphSlot slot = face->glyph;
        const QPoint at(int(pen >> 6) + slot->bitmap_left, -slot->bitmap_top);
        glyphs.append({coverageOf(slot->bitmap), at});
        right = std::max(right, at.x() + int(slot->bitmap.width));
        pen += slot->advance.x;
        previous = glyph;
    }
    const int ascent = int((face->size->metrics.ascender + 63) >> 6);
    const int descent = int((-face->size->metrics.descender + 63) >> 6);
    const int width = std::max(int((pen + 63) >> 6), right);
    if (width <= 0 || ascent + descent <= 0 || std::ceil(width / scale) > nameRoom)
        return {};

    QImage mask(width, ascent + descent, QImage::Format_Alpha8);
    mask.fill(0);
    for (const PlacedGlyph &placed : std::as_const(glyphs))
        for (int y = 0; y < placed.coverage.height(); ++y) {
            const int maskY = ascent + placed.at.y() + y;
            if (maskY < 0 || maskY >= mask.height())
                continue;
            const uchar *source = placed.coverage.constScanLine(y);
            uchar *line = mask.scanLine(maskY);
            for (int x = 0; x < placed.coverage.width(); ++x) {
                const int maskX = placed.at.x() + x;
                if (maskX >= 0 && maskX < width)
                    line[maskX] = std::max(line[maskX], source[x]);
            }
        }
    mask.setDevicePixelRatio(scale);
    return mask;
}
