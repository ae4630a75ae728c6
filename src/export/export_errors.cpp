#include "export/export_errors.h"

#include <QDir>

#include <cerrno>

namespace {

QString shownPath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// The system's explanation in Chinese, without a closing full stop, for the
// causes a user meets when saving; empty for any other. Qt hands the
// explanation over as the C library's English text, so that is what is
// matched.
QString chineseSystemText(const QString &systemText)
{
    static const struct {
        int code;
        const char16_t *text;
    } kKnown[] = {
        {ENOENT, u"没有这个文件或文件夹"},
        {ENOTDIR, u"路径中的一项不是文件夹"},
        {EACCES, u"没有权限"},
        {EROFS, u"文件系统是只读的"},
        {ENOSPC, u"磁盘空间不足"},
        {ENAMETOOLONG, u"文件名太长"},
        {EISDIR, u"这是一个文件夹"},
    };
    for (const auto &known : kKnown) {
        if (systemText == qt_error_string(known.code))
            return QString::fromUtf16(known.text);
    }
    return {};
}

} // namespace

QuillowError cannotCreateFileError(const QString &path, const QString &systemText)
{
    // The opening is kept in English and in this exact form: it is the
    // long-standing text of this failure, and people search for it.
    const QString chinese = chineseSystemText(systemText);
    const QString reason = chinese.isEmpty() ? systemText : chinese + QStringLiteral("。");
    return QuillowError(QStringLiteral("Cannot create file \"%1\". %2").arg(shownPath(path), reason));
}

QuillowError writeFailedError(const QString &path, const QString &systemText, bool targetExists)
{
    const QString chinese = chineseSystemText(systemText);
    const QString text = targetExists
                             ? QStringLiteral("写入文件 \"%1\" 失败：%2。文件未保存，原有文件保持不变。")
                             : QStringLiteral("写入文件 \"%1\" 失败：%2。文件未保存。");
    return QuillowError(text.arg(shownPath(path), chinese.isEmpty() ? systemText : chinese));
}

QuillowError notRegularFileError(const QString &path)
{
    return QuillowError(
        QStringLiteral("无法保存到 \"%1\"：它不是普通文件（可能是文件夹或设备），未做任何改动。")
            .arg(shownPath(path)));
}

QuillowError brokenLinkError(const QString &path)
{
    return QuillowError(
        QStringLiteral("无法保存到 \"%1\"：它是一个符号链接，指向的文件不存在或链接绕成了圈，未做任何改动。")
            .arg(shownPath(path)));
}

QuillowError emptyPictureError()
{
    return QuillowError(QStringLiteral("图片为空（宽度或高度为 0），无法保存。"));
}

QuillowError pictureTooLargeError(qint64 width, qint64 height)
{
    return QuillowError(QStringLiteral("图片太大（%1 × %2 像素），无法保存。").arg(width).arg(height));
}

QuillowError unsupportedDepthError(int depth)
{
    return QuillowError(QStringLiteral("不支持 %1 位的像素深度，无法保存为 BMP。").arg(depth));
}

QuillowError noFramesError()
{
    return QuillowError(QStringLiteral("动画没有任何帧，无法保存。"));
}

QuillowError frameSizeMismatchError()
{
    return QuillowError(QStringLiteral("动画各帧的大小不一致，无法保存。"));
}

QuillowError frameDelayError(int delayMs)
{
    return QuillowError(QStringLiteral("帧的时长 %1 毫秒超出范围，无法保存。").arg(delayMs));
}

QuillowError paletteSizeError(int colours)
{
    return QuillowError(QStringLiteral("调色板颜色数 %1 超出范围（应为 2 到 256）。").arg(colours));
}

QuillowError qualityRangeError(int quality)
{
    return QuillowError(QStringLiteral("质量 %1 超出范围（应为 0 到 100）。").arg(quality));
}

QuillowError encoderFailedError(const QString &format, const QString &detail)
{
    return QuillowError(QStringLiteral("%1 编码失败（%2）。").arg(format, detail));
}
