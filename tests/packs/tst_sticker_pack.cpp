// The pack table's own checks, fed what the stickers maker never makes: a
// phrase list in every shape a user types, pictures that break LINE's box
// (odd sides, ink at the edge, too wide, too heavy), and archive names that
// would escape the folder they are unpacked into.

#include "composition/quillow_error.h"
#include "export/alpha_png.h"
#include "export/output_format.h"
#include "export/zip_archive.h"
#include "sticker/sticker_pack.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QtTest>

namespace {

QString refusalOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const QuillowError &error) {
        return error.message();
    }
    return {};
}

QByteArray pngOf(QSize size, QRect ink)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter(&image).fillRect(ink, Qt::red);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    writeAlphaPng(image, buffer);
    return buffer.data();
}

} // namespace

class TestStickerPack : public QObject {
    Q_OBJECT
private slots:
    void phraseList_data();
    void phraseList();
    void counts_data();
    void counts();
    void lineStickerChecks_data();
    void lineStickerChecks();
    void archiveNames_data();
    void archiveNames();
};

void TestStickerPack::phraseList_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("maxEmoji");
    // "line:phrase:emoji" per sticker, joined by "|"; or the refusal.
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain, own emoji, default")
        << QStringLiteral("好的\n加油💪\n") << 3 << QStringLiteral("1:好的:💬|2:加油💪:💪");
    QTest::newRow("comments, blanks, CRLF keep line numbers")
        << QStringLiteral("# 标题\r\n\r\n  \r\n收到\r\n") << 3 << QStringLiteral("4:收到:💬");
    QTest::newRow("tags with spaces and commas")
        << QStringLiteral("晚安\t🌙, 😴 ⭐\n") << 3 << QStringLiteral("1:晚安:🌙😴⭐");
    QTest::newRow("a joined emoji is one")
        << QStringLiteral("家\t👨‍👩‍👧\n") << 1 << QStringLiteral("1:家:👨‍👩‍👧");
    QTest::newRow("too many tags") << QStringLiteral("好\n晚安\t🌙😴⭐🌛\n") << 3
                                   << QStringLiteral("第 2 行：每张贴纸最多 3 个表情符号，这一行有 4 个");
    QTest::newRow("a tag that is no emoji")
        << QStringLiteral("好\tok\n") << 3 << QStringLiteral("第 1 行：制表符后的“o”不是表情符号");
}

void TestStickerPack::phraseList()
{
    QFETCH(QString, text);
    QFETCH(int, maxEmoji);
    QFETCH(QString, expected);
    QStringList got;
    const QString refusal = refusalOf([&] {
        for (const PackEntry &entry : readPackPhrases(text, maxEmoji))
            got << QStringLiteral("%1:%2:%3").arg(entry.line).arg(entry.phrase, entry.emoji.join(QString()));
    });
    if (!refusal.isEmpty())
        QVERIFY2(refusal.startsWith(expected), qPrintable(refusal));
    else
        QCOMPARE(got.join(u'|'), expected);
}

void TestStickerPack::counts_data()
{
    QTest::addColumn<QString>("app");
    QTest::addColumn<bool>("animated");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("refusal"); // empty: taken

    QTest::newRow("line 40") << "line" << false << 40 << QString();
    QTest::newRow("line 11") << "line" << false << 11
                             << QStringLiteral("LINE 的静态贴纸包只能有 8、16、24、32 或 40 张，现有 11 张");
    QTest::newRow("line animated 32")
        << "line" << true << 32 << QStringLiteral("LINE 的动态贴纸包只能有 8、16 或 24 张，现有 32 张");
    QTest::newRow("whatsapp 30") << "whatsapp" << true << 30 << QString();
    QTest::newRow("whatsapp 31") << "whatsapp" << false << 31
                                 << QStringLiteral("WhatsApp 的静态贴纸包要有 3 到 30 张，现有 31 张");
    QTest::newRow("telegram 121") << "telegram" << false << 121
                                  << QStringLiteral("Telegram 的静态贴纸包最多 120 张，现有 121 张");
    QTest::newRow("slack 0") << "slack" << false << 0
                             << QStringLiteral("Slack 的静态贴纸包至少 1 张，现有 0 张");
}

void TestStickerPack::counts()
{
    QFETCH(QString, app);
    QFETCH(bool, animated);
    QFETCH(int, count);
    QFETCH(QString, refusal);
    const StickerPackRule *rule = stickerPackNamed(app);
    QVERIFY(rule);
    QCOMPARE(refusalOf([&] { checkPackCount(*rule, animated, count); }), refusal);
}

void TestStickerPack::lineStickerChecks_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("ink");
    QTest::addColumn<QString>("refusal"); // empty: taken

    QTest::newRow("fits") << QSize(370, 320) << QRect(10, 10, 350, 300) << QString();
    QTest::newRow("ink at the edge") << QSize(370, 320) << QRect(5, 10, 300, 100)
                                     << QStringLiteral("S：图案离边缘不到 10 像素");
    QTest::newRow("odd side") << QSize(301, 200) << QRect(20, 20, 100, 100)
                              << QStringLiteral("S：图片是 301×200 像素，宽和高都必须是偶数");
    QTest::newRow("too wide") << QSize(372, 200) << QRect(20, 20, 100, 100)
                              << QStringLiteral("S：图片是 372×200 像素，不合规定的 370×320");
}

void TestStickerPack::lineStickerChecks()
{
    QFETCH(QSize, size);
    QFETCH(QRect, ink);
    QFETCH(QString, refusal);
    const StickerPackRule *line = stickerPackNamed(u"line");
    QCOMPARE(refusalOf([&] {
                 checkPackSticker(QStringLiteral("S"), line->preset->still, *outputFormatNamed(u"png-alpha"),
                                  pngOf(size, ink));
             }),
             refusal);
}

void TestStickerPack::archiveNames_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("refusal"); // empty: written

    QTest::newRow("plain") << QStringList{"01.png", "contents.json", "表情/02.png"} << QString();
    QTest::newRow("up and out") << QStringList{"../01.png"} << QStringLiteral("“../01.png”不能用");
    QTest::newRow("absolute") << QStringList{"/etc/x"} << QStringLiteral("“/etc/x”不能用");
    QTest::newRow("backslash") << QStringList{"a\\b.png"} << QStringLiteral("“a\\b.png”不能用");
    QTest::newRow("control") << QStringList{"a\nb.png"} << QStringLiteral("不能用");
    QTest::newRow("twice") << QStringList{"01.png", "01.png"} << QStringLiteral("两个文件都叫“01.png”");
}

void TestStickerPack::archiveNames()
{
    QFETCH(QStringList, names);
    QFETCH(QString, refusal);
    std::vector<ZipMember> members;
    for (const QString &name : names)
        members.push_back({name, name.toUtf8()});
    QByteArray archive;
    const QString got = refusalOf([&] { archive = zipArchiveBytes(members); });
    if (refusal.isEmpty()) {
        QVERIFY2(got.isEmpty(), qPrintable(got));
        // A local file header, the central directory's end record.
        QVERIFY(archive.startsWith("PK\x03\x04"));
        QVERIFY(archive.contains("PK\x05\x06"));
    } else {
        QVERIFY2(got.contains(refusal), qPrintable(got));
    }
}

QTEST_MAIN(TestStickerPack)
#include "tst_sticker_pack.moc"
