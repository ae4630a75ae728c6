#include "export/export_errors.h"

#include <QDir>

namespace {

QString shownPath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

QuillowError cannotCreateFileError(const QString &path, const QString &systemText)
{
    // Kept in English and in this exact form: it is the long-standing text
    // of this failure, and people search for it.
    return QuillowError(QStringLiteral("Cannot create file \"%1\". %2").arg(shownPath(path), systemText));
}

QuillowError writeFailedError(const QString &path, const QString &systemText, bool targetExists)
{
    const QString text = targetExists ? QStringLiteral("写入文件 \"%1\" 失败：%2。文件未保存，原有文件保持不变。")
                                      : QStringLiteral("写入文件 \"%1\" 失败：%2。文件未保存。");
    return QuillowError(text.arg(shownPath(path), systemText));
}

QuillowError notRegularFileError(const QString &path)
{
    return QuillowError(
        QStringLiteral("无法保存到 \"%1\"：它不是普通文件（可能是文件夹或设备），未做任何改动。").arg(shownPath(path)));
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
