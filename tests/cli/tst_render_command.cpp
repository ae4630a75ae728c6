#include "cli/render_command.h"
#include "export/apng_reader.h"
#include "jobs/batch.h"
#include "jobs/job_options.h"
#include "jobs/option_text.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include "composition/effect_frames.h"
#include "composition/sticker_look.h"
#include "export/output_format.h"
#include "one_thread.h"
#include "sticker/sticker_preset.h"
#include "webp_chunks.h"

namespace {

const QString kFace = QStringLiteral("WenQuanYi Micro Hei");

struct Run {
    int status = -1;
    QString output;
    QString errors;
};

Run runHere(const QDir &folder, QStringList arguments, const QByteArray &input);

// Runs the whole command as main() does, in `folder`, feeding `input` as
// standard input: in this process, or for a batch, which forks its lines, in
// a child of it with one thread (see inOneThread()).
Run run(const QDir &folder, QStringList arguments, const QByteArray &input = QByteArray())
{
    if (!arguments.contains(QStringLiteral("--batch")))
        return runHere(folder, arguments, input);
    const std::optional<QByteArray> reply = inOneThread([&] {
        const Run result = runHere(folder, arguments, input);
        QByteArray bytes;
        QDataStream(&bytes, QIODevice::WriteOnly) << result.status << result.output << result.errors;
        return bytes;
    });
    Run result;
    if (!reply) {
        result.errors = QStringLiteral("the batch's process did not end normally");
        return result;
    }
    QDataStream(*reply) >> result.status >> result.output >> result.errors;
    return result;
}

Run runHere(const QDir &folder, QStringList arguments, const QByteArray &input)
{
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder.path());
    QBuffer in;
    in.setData(input);
    in.open(QIODevice::ReadOnly);
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    arguments.prepend(QStringLiteral("quillow-render"));
    Run result;
    result.status = runRenderCommand(arguments, in, out, err);
    result.output = QString::fromUtf8(out.data());
    result.errors = QString::fromUtf8(err.data());
    QDir::setCurrent(previous);
    return result;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList filesIn(const QDir &folder)
{
    return folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// The same job as a batch line: each "--name value" becomes a field of
// that name, each flag true, "-o" the output and the rest the phrase.
QByteArray asBatchLine(const QStringList &arguments)
{
    QJsonObject object;
    for (qsizetype at = 0; at < arguments.size(); ++at) {
        const QString &argument = arguments[at];
        if (argument == QLatin1String("-o"))
            object.insert(QStringLiteral("output"), arguments[++at]);
        else if (argument.startsWith(QLatin1String("--")) && isFlagOption(argument.mid(2)))
            object.insert(argument.mid(2), true);
        else if (argument.startsWith(QLatin1String("--")))
            object.insert(argument.mid(2), arguments[++at]);
        else
            object.insert(QStringLiteral("phrase"), argument);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Frames of a WebP file as its RIFF chunks declare them: one ANMF chunk
// each after an ANIM chunk, or 1 for a still file; -1 for a file that is
// not a WebP.
int webpFrames(const QByteArray &bytes)
{
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WEBP")
        return -1;
    const QList<QByteArray> chunks = webpChunks(bytes);
    return chunks.contains("ANIM") ? int(chunks.count("ANMF")) : 1;
}

// The frames a file holds, read by decoders that are not ours: Qt's for
// GIF, the acTL chunk for APNG, the RIFF chunks for WebP.
int framesIn(const QString &path, const QByteArray &bytes)
{
    if (bytes.startsWith("GIF89a")) {
        QImageReader reader(path);
        return reader.imageCount();
    }
    if (bytes.startsWith("RIFF"))
        return webpFrames(bytes);
    const ApngContents apng = readApng(bytes);
    return apng.plays < 0 ? 1 : apng.declaredFrames;
}

} // namespace

class TestRenderCommand : public QObject {
    Q_OBJECT

private slots:
    void parsesSettings_data();
    void parsesSettings();
    void refusesBadInput_data();
    void refusesBadInput();
    void writesEachFormat_data();
    void writesEachFormat();
    void unwritablePathFailsLeavingNothing_data();
    void unwritablePathFailsLeavingNothing();
    void seedRepeatsAndDiffers();
    void dpiScalesThePicture();
    void batchReportsEveryLineInOrder();
    void batchLineQuotesNumbersAsTyped_data();
    void batchLineQuotesNumbersAsTyped();
    void batchLinesMatchSingleRunsOnAnyThreadCount();
    void batchFromMissingFileIsBadInput();
    void helpIsChinese();
    void helpListsEveryRowOfTheTables_data();
    void helpListsEveryRowOfTheTables();
    void stickerOptions_data();
    void stickerOptions();
    void namedLookSetsTheOutline_data();
    void namedLookSetsTheOutline();
    void formatChoice_data();
    void formatChoice();
    void formatByOptionsIsThePresets_data();
    void formatByOptionsIsThePresets();
    void refusalsNameTheirField_data();
    void refusalsNameTheirField();
    void stickerFilesHoldTheirFrames_data();
    void stickerFilesHoldTheirFrames();
    void writesAWebmVideo();
    void batchReportsStickerFacts();
    void capThatCannotBeMetWritesNothing();
    void invisibleMarksWithALetterAreDrawn();
    void revealOfOneCharacterWarns();
    void stillWebpIsNoAnimation_data();
    void stillWebpIsNoAnimation();
    void batchFramesAreTheFilesFrames();
    void batchLinesOfOneFileRunInOrder();
    void batchRefusesNamesTheSystemWouldChange_data();
    void batchRefusesNamesTheSystemWouldChange();
    void batchOrderCountsEveryFileALineWrites();
    void tilesKeepOneTimeline();
};

void TestRenderCommand::parsesSettings_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("phrase");
    QTest::addColumn<QString>("face");
    QTest::addColumn<bool>("styled");
    QTest::addColumn<int>("horzAlign");
    QTest::addColumn<int>("vertAlign");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("colourMode");
    QTest::addColumn<uint>("startColour");
    QTest::addColumn<uint>("endColour");
    QTest::addColumn<QString>("format");
    QTest::addColumn<qint64>("seed"); // -1: none
    QTest::addColumn<double>("dpi");

    const QString png = "png", bmp = "bmp", alpha = "png-alpha";
    // Laid out by hand: the arguments, then the record they give.
    // clang-format off
    QTest::newRow("window defaults") << QStringList{"-o", "a.png", "友谊的小船说翻就翻"} << "友谊的小船说翻就翻"
                                     << "微软雅黑" << false << 1 << 1 << 0 << 1 << 0xFF0000u << 0x0000FFu << png
                                     << qint64(-1) << 96.0;
    QTest::newRow("every option, options after the phrase")
        << QStringList{"我们", "--output=b.BMP", "--face", "DejaVu Sans", "--bold", "--italic", "--underline",
                       "--strike-out", "--halign", "right", "--valign=bottom", "--spacing", "36", "--colours",
                       "gradient", "--start", "#00ff80", "--end", "#102030", "--seed", "4294967295", "--dpi", "144"}
        << "我们" << "DejaVu Sans" << true << 3 << 3 << 36 << 2 << 0x80FF00u << 0x302010u << bmp
        << qint64(4294967295) << 144.0;
    QTest::newRow("centre and middle, default colours, format beats suffix")
        << QStringList{"--halign", "centre", "--valign", "middle", "--colours", "default", "--format", "png-alpha",
                       "-o", "c.img", "我"}
        << "我" << "微软雅黑" << false << 2 << 2 << 0 << 3 << 0xFF0000u << 0x0000FFu << alpha << qint64(-1) << 96.0;
    QTest::newRow("ends trimmed, ten code units left, U+3000 kept")
        << QStringList{"-o", "d.png", "  \t\u3000一二三四五六七八九 \n"} << "\u3000一二三四五六七八九" << "微软雅黑"
        << false << 1 << 1 << 0 << 1 << 0xFF0000u << 0x0000FFu << png << qint64(-1) << 96.0;
    QTest::newRow("a phrase that looks like an option after --")
        << QStringList{"-o", "e.png", "--seed", "0", "--", "-1"} << "-1" << "微软雅黑" << false << 1 << 1 << 0 << 1
        << 0xFF0000u << 0x0000FFu << png << qint64(0) << 96.0;
    // clang-format on
}

void TestRenderCommand::parsesSettings()
{
    QFETCH(QStringList, arguments);
    arguments.prepend(QStringLiteral("quillow-render"));
    const CommandLine command = parseCommandLine(arguments);
    QCOMPARE(command.action, CommandLine::Action::Render);
    const RenderJob &job = command.draft.job;
    const StripSettings &settings = job.settings;
    QTEST(settings.text, "phrase");
    QTEST(settings.faceName, "face");
    QFETCH(bool, styled);
    QCOMPARE(settings.bold, styled);
    QCOMPARE(settings.italic, styled);
    QCOMPARE(settings.underline, styled);
    QCOMPARE(settings.strikeOut, styled);
    QTEST(int(settings.horzAlign), "horzAlign");
    QTEST(int(settings.vertAlign), "vertAlign");
    QTEST(int(settings.spacing), "spacing");
    QTEST(int(settings.colourMode), "colourMode");
    QTEST(uint(settings.startColour), "startColour");
    QTEST(uint(settings.endColour), "endColour");
    QTEST(QString(job.format->name), "format");
    QTEST(job.seed ? qint64(*job.seed) : qint64(-1), "seed");
    QTEST(job.dpi, "dpi");
}

void TestRenderCommand::refusesBadInput_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    QTest::newRow("unknown option") << QStringList{"--colour", "random", "-o", "a.png", "我"}
                                    << "未知选项：“--colour”";
    QTest::newRow("unknown short option") << QStringList{"-x", "-o", "a.png", "我"} << "未知选项：“-x”";
    QTest::newRow("no output") << QStringList{"我"} << "缺少输出文件：命令行用 -o FILE 给出";
    QTest::newRow("nothing at all") << QStringList{} << "缺少输出文件";
    QTest::newRow("no phrase") << QStringList{"-o", "a.png"} << "缺少短语。";
    QTest::newRow("two phrases") << QStringList{"-o", "a.png", "我", "们"}
                                 << "只能给一个短语（含空格的短语请加引号），多余的参数：“们”。";
    QTest::newRow("value missing at the end")
        << QStringList{"-o", "a.png", "我", "--spacing"} << "选项 --spacing 缺少值。";
    QTest::newRow("flag given a value")
        << QStringList{"-o", "a.png", "我", "--bold=yes"} << "选项 --bold 不带值。";
    QTest::newRow("spacing above 36") << QStringList{"--spacing", "37", "-o", "a.png", "我"}
                                      << "间隔（--spacing）必须是 0 到 36 之间的整数，而不是 “37”。";
    QTest::newRow("spacing below 0") << QStringList{"--spacing=-1", "-o", "a.png", "我"} << "而不是 “-1”。";
    QTest::newRow("spacing not a number")
        << QStringList{"--spacing", "12px", "-o", "a.png", "我"} << "而不是 “12px”。";
    QTest::newRow("colour by name") << QStringList{"--start", "red", "-o", "a.png", "我"}
                                    << "起始色（--start）必须写成 #RRGGBB（如 #FF8000），而不是 “red”。";
    QTest::newRow("colour of five digits")
        << QStringList{"--end", "#12345", "-o", "a.png", "我"} << "终止色（--end）必须写成 #RRGGBB";
    QTest::newRow("colour with a bad digit")
        << QStringList{"--end", "#12345G", "-o", "a.png", "我"} << "而不是 “#12345G”。";
    QTest::newRow("horizontal alignment not in the list")
        << QStringList{"--halign", "middle", "-o", "a.png", "我"}
        << "横对齐（--halign）只能是 left、centre、right，而不是 “middle”。";
    QTest::newRow("vertical alignment not in the list")
        << QStringList{"--valign", "2", "-o", "a.png", "我"}
        << "纵对齐（--valign）只能是 top、middle、bottom，而不是 “2”。";
    QTest::newRow("colour mode not in the list")
        << QStringList{"--colours", "rainbow", "-o", "a.png", "我"}
        << "颜色（--colours）只能是 random、gradient、default，而不是 “rainbow”。";
    QTest::newRow("format not in the list") << QStringList{"--format", "jpg", "-o", "a.jpg", "我"}
                                            << "格式（--format）只能是 png、bmp、png-alpha";
    QTest::newRow("eleven code units") << QStringList{"-o", "a.png", "一二三四五六七八九十一"}
                                       << "短语太长：去掉首尾空白后有 11 个 UTF-16 码元，最多 10 个。";
    QTest::newRow("a supplementary character counts twice")
        << QStringList{"-o", "a.png", QStringLiteral("一二三四五六七八九\U0001F600")}
        << "有 11 个 UTF-16 码元";
    QTest::newRow("only spaces") << QStringList{"-o", "a.png", "   "} << "短语为空";
    QTest::newRow("suffix of no format") << QStringList{"-o", "a.jpg", "我"}
                                         << "无法从文件名 “a.jpg” 判断格式：后缀应为 "
                                            ".png、.bmp、.apng、.gif、.webp 或 .webm，或用 --format 指定。";
    QTest::newRow("no suffix") << QStringList{"-o", "picture", "我"} << "无法从文件名 “picture” 判断格式";
    // Said before the suffix, which a name this long would fail as well.
    QTest::newRow("32768-character name")
        << QStringList{"-o", QString(32768, QLatin1Char('x')), "我"} << "文件名太长";
    QTest::newRow("a part over 255 bytes")
        << QStringList{"-o", QStringLiteral("d/") + QString(86, QChar(0x558A)) + QStringLiteral("/a.png"),
                       "我"}
        << "文件名太长";
    QTest::newRow("seed too large")
        << QStringList{"--seed", "4294967296", "-o", "a.png", "我"}
        << "种子（--seed）必须是 0 到 4294967295 之间的整数，而不是 “4294967296”。";
    QTest::newRow("negative seed") << QStringList{"--seed", "-3", "-o", "a.png", "我"} << "而不是 “-3”。";
    QTest::newRow("dpi zero") << QStringList{"--dpi", "0", "-o", "a.png", "我"}
                              << "每英寸点数（--dpi）必须是 1 到 1200 之间的数，而不是 “0”。";
    QTest::newRow("dpi not a number") << QStringList{"--dpi", "nan", "-o", "a.png", "我"} << "而不是 “nan”。";
    QTest::newRow("batch with a phrase")
        << QStringList{"--batch", "-", "我"} << "使用 --batch 时，短语和输出文件由每一行给出";
    QTest::newRow("batch with an output") << QStringList{"--batch", "-", "-o", "a.png"} << "使用 --batch 时";
    QTest::newRow("effect not in the list")
        << QStringList{"--effect", "wobble", "-o", "a.gif", "我"}
        << "动画效果只能是 still、reveal、shake、reveal-shake，而不是“wobble”。";
    QTest::newRow("frame of 9 ms") << QStringList{"--frame-ms", "9", "-o", "a.gif", "我"}
                                   << "每帧时长（--frame-ms）必须是 10 到 10000 之间的整数，而不是 “9”。";
    QTest::newRow("hold over a minute")
        << QStringList{"--hold-ms", "60001", "-o", "a.gif", "我"}
        << "停留时长（--hold-ms）必须是 0 到 60000 之间的整数，而不是 “60001”。";
    QTest::newRow("outline of 13") << QStringList{"--outline", "13", "-o", "a.gif", "我"}
                                   << "描边宽度（--outline）必须是 0 到 12 之间的整数，而不是 “13”。";
    QTest::newRow("look not in the list") << QStringList{"--look", "loud", "-o", "a.gif", "我"}
                                          << "外观（--look）只能是 plain、readable，而不是 “loud”。";
    QTest::newRow("outline edge of 5") << QStringList{"--outline-edge", "5", "-o", "a.gif", "我"}
                                       << "细边宽度（--outline-edge）必须是 0 到 4 之间的整数，而不是 “5”。";
    QTest::newRow("outline colour with alpha")
        << QStringList{"--outline-colour", "#FFFFFF80", "-o", "a.gif", "我"}
        << "描边颜色（--outline-colour）必须写成 #RRGGBB（如 #FFFFFF），而不是“#FFFFFF80”。";
    QTest::newRow("shadow colour by name") << QStringList{"--shadow-colour", "black", "-o", "a.gif", "我"}
                                           << "阴影颜色（--shadow-colour）必须写成 #RRGGBB 或 #RRGGBBAA";
    QTest::newRow("shadow offset of one number") << QStringList{"--shadow-offset", "2", "-o", "a.gif", "我"}
                                                 << "阴影偏移（--shadow-offset）必须写成 X,Y（如 2,2）";
    QTest::newRow("shadow offset too far")
        << QStringList{"--shadow-offset", "2,21", "-o", "a.gif", "我"} << "而不是“2,21”。";
    QTest::newRow("shadow blur of 21")
        << QStringList{"--shadow-blur", "21", "-o", "a.gif", "我"}
        << "阴影模糊半径（--shadow-blur）必须是 0 到 20 之间的整数，而不是 “21”。";
    QTest::newRow("shadow given a value")
        << QStringList{"--shadow=yes", "-o", "a.gif", "我"} << "选项 --shadow 不带值。";
    QTest::newRow("matte of three digits") << QStringList{"--matte", "#FFF", "-o", "a.gif", "我"}
                                           << "底色（--matte）必须写成 #RRGGBB（如 #FFFFFF），而不是“#FFF”。";
    QTest::newRow("quality of 101") << QStringList{"--quality", "101", "-o", "a.webp", "我"}
                                    << "质量（--quality）必须是 0 到 100 之间的整数，而不是 “101”。";
    QTest::newRow("preset not in the list")
        << QStringList{"--preset", "kakao", "-o", "a.gif", "我"}
        << "预设（--preset）只能是 "
           "wechat、qq、telegram、telegram-emoji、whatsapp、discord-emoji、discord-sticker、"
           "line、slack，而不是 “kakao”。";
    // A cap is read as typed, digits only.
    QTest::newRow("cap after a space")
        << QStringList{"--max-bytes", " 5000", "-o", "a.gif", "我"}
        << "大小上限（--max-bytes）必须是 1 到 1073741824 之间的整数，而不是 “ 5000”。";
    QTest::newRow("cap before a space")
        << QStringList{"--max-bytes", "5000 ", "-o", "a.gif", "我"} << "而不是 “5000 ”。";
    QTest::newRow("cap with a plus sign")
        << QStringList{"--max-bytes=+5000", "-o", "a.gif", "我"} << "而不是 “+5000”。";
    // Refused like a phrase of spaces: each draws a fully transparent strip.
    QTest::newRow("only a zero-width space")
        << QStringList{"-o", "a.gif", QStringLiteral("\u200B")} << "短语为空";
    QTest::newRow("only zero-width joiners")
        << QStringList{"-o", "a.png", QStringLiteral("\u200D\u200D")} << "短语为空";
    QTest::newRow("a lone combining mark")
        << QStringList{"-o", "a.webp", QStringLiteral("\u0301")} << "短语为空";
    QTest::newRow("cap of 0 bytes")
        << QStringList{"--max-bytes", "0", "-o", "a.gif", "我"}
        << "大小上限（--max-bytes）必须是 1 到 1073741824 之间的整数，而不是 “0”。";
    QTest::newRow("five rows") << QStringList{"--rows", "5", "-o", "a.gif", "我"}
                               << "行数（--rows）必须是 1 到 4 之间的整数，而不是 “5”。";
    QTest::newRow("rows in the window's PNG")
        << QStringList{"--rows", "2", "--format", "png", "-o", "a.png", "我"}
        << "格式 png 是窗口保存的白底图片，只有一行：行数（--rows）只用于 png-alpha、apng、gif、webp 和 "
           "webm。";
    QTest::newRow("tiles of no grid")
        << QStringList{"--tiles", "3", "-o", "a.gif", "我"}
        << "拆成多个表情（--tiles）：“3”不是表情的拆法：请写成 列x行（如 3x1），或 auto。";
    QTest::newRow("tiles in the window's PNG")
        << QStringList{"--tiles", "auto", "--format", "png", "-o", "a.png", "我"}
        << "格式 png 是窗口保存的白底图片：拆成多个表情（--tiles）只用于 png-alpha、apng、gif、webp 和 "
           "webm。";
    QTest::newRow("tiles and rows") << QStringList{"--tiles", "2x2", "--rows", "2", "-o", "a.gif", "我"}
                                    << "--rows 和 --tiles 不能同时使用";
    QTest::newRow("tiles of a preset of the strip's shape")
        << QStringList{"--tiles", "2x1", "--preset", "wechat", "-o", "a.png", "我"}
        << "只有能把表情并排发出的聊天预设（discord-emoji、slack）才能拆成多个表情";
    QTest::newRow("animated effect in the window's PNG")
        << QStringList{"--effect", "reveal", "--format", "png", "-o", "a.png", "我"}
        << "格式 png 是静态图，不能做动画效果 reveal：请用 apng、gif、webp 或 webm。";
    QTest::newRow("animated effect in png-alpha")
        << QStringList{"--effect", "shake", "--format", "png-alpha", "-o", "a.png", "我"}
        << "格式 png-alpha 是静态图，不能做动画效果 shake";
    QTest::newRow("animated effect in a BMP")
        << QStringList{"--effect", "reveal", "-o", "a.bmp", "我"} << "格式 bmp 是静态图";
    QTest::newRow("outline on the window's BMP")
        << QStringList{"--outline", "2", "-o", "a.bmp", "我"}
        << "格式 bmp 是窗口保存的白底图片：描边、阴影、预设和大小上限只用于 png-alpha、apng、gif、webp 和 "
           "webm。";
    QTest::newRow("preset on the window's PNG by name")
        << QStringList{"--preset", "qq", "--format", "png", "-o", "a.png", "我"}
        << "格式 png 是窗口保存的白底图片";
    QTest::newRow("matte for a WebP") << QStringList{"--matte", "#1E1E1E", "-o", "a.webp", "我"}
                                      << "底色（--matte）只用于 GIF，而输出格式是 webp。";
    QTest::newRow("quality for a GIF") << QStringList{"--quality", "80", "-o", "a.gif", "我"}
                                       << "质量（--quality）只用于 WebP，而输出格式是 gif。";
    QTest::newRow("dpi for a GIF")
        << QStringList{"--dpi", "144", "-o", "a.gif", "我"}
        << "--dpi 和 --scale 只用于 png、bmp 和 png-alpha 静态图，而这张是 gif 贴纸。";
    // A chat's emoji names are short, so a tile's name outgrows the system
    // only in a deep folder: a path of PATH_MAX - 2 bytes fits, but not with
    // "_2" (and one of PATH_MAX - 3 not with "_10").
    const auto deepPath = [](int bytes) {
        QString folders;
        while (bytes - folders.size() - 6 > 201)
            folders += QString(200, QLatin1Char('d')) + QLatin1Char('/');
        const int last = bytes - int(folders.size()) - 6 - 1;
        return folders + QString(last, QLatin1Char('e')) + QStringLiteral("/ab.png");
    };
    QTest::newRow("tile name too long with its number")
        << QStringList{"--preset", "discord-emoji", "--tiles", "2x1", "-o", deepPath(PATH_MAX - 2), "我们"}
        << "文件名太长：拆成的表情写成 ab_2.png 这样的文件";
    QTest::newRow("automatic tiles with the tenth tile's number")
        << QStringList{"--preset", "discord-emoji", "--tiles", "auto", "-o", deepPath(PATH_MAX - 3), "我们"}
        << "ab_10.png 这样的文件";
    QTest::newRow("batch defaults checked too")
        << QStringList{"--batch", "-", "--spacing", "99"} << "而不是 “99”。";
}

void TestRenderCommand::refusesBadInput()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());

    const Run result =
        run(QDir(folder.path()), arguments, QByteArrayLiteral("{\"phrase\":\"我\",\"output\":\"b.png\"}\n"));
    QCOMPARE(result.status, kExitBadInput);
    QVERIFY2(result.errors.startsWith(QStringLiteral("quillow-render: ")), qPrintable(result.errors));
    QVERIFY2(result.errors.contains(message), qPrintable(result.errors));
    QVERIFY(result.output.isEmpty());
    QCOMPARE(filesIn(QDir(folder.path())), QStringList());
}

void TestRenderCommand::writesEachFormat_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<bool>("transparentCorner");

    const QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QTest::newRow("indexed PNG by suffix") << QStringList{"-o", "a.png"} << "a.png" << png << true;
    QTest::newRow("BMP by suffix") << QStringList{"-o", "a.bmp"} << "a.bmp" << QByteArray("BM") << false;
    QTest::newRow("RGBA PNG by format")
        << QStringList{"--format", "png-alpha", "-o", "a.sticker"} << "a.sticker" << png << true;
    QTest::newRow("BMP by format over a png suffix")
        << QStringList{"--format", "bmp", "-o", "a.png"} << "a.png" << QByteArray("BM") << false;
}

void TestRenderCommand::writesEachFormat()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, signature);
    QFETCH(bool, transparentCorner);
    QTemporaryDir folder;
    const QDir dir(folder.path());

    const Run result = run(dir, arguments + QStringList{"--face", kFace, "--colours", "default", "--halign",
                                                        "centre", "友谊的小船"});
    QVERIFY2(result.status == kExitOk, qPrintable(result.errors));
    QVERIFY(result.errors.isEmpty());
    QCOMPARE(filesIn(dir), QStringList{fileName});

    const QByteArray bytes = contents(dir.filePath(fileName));
    QVERIFY(bytes.startsWith(signature));
    const QImage image = QImage::fromData(bytes);
    QVERIFY(!image.isNull());
    // Five cells of the reference glyph at 70..110 points, as tall as the
    // glyph at 110 points (147 pixels of type at 96 dpi).
    QVERIFY2(image.width() > 400 && image.width() < 700, qPrintable(QString::number(image.width())));
    QVERIFY2(image.height() >= 147 && image.height() < 200, qPrintable(QString::number(image.height())));
    QCOMPARE(qAlpha(image.pixel(0, 0)) == 0, transparentCorner);
    // The last, largest character is drawn in the middle of its cell, in the
    // default text colour.
    bool ink = false;
    for (int y = 0; y < image.height() && !ink; ++y)
        ink = qGray(image.pixel(image.width() - 70, y)) < 64 &&
              qAlpha(image.pixel(image.width() - 70, y)) == 255;
    QVERIFY(ink);
}

void TestRenderCommand::unwritablePathFailsLeavingNothing_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("message");

    QTest::newRow("missing folder") << "missing/a.png"
                                    << "Cannot create file \"%1\". ";
    QTest::newRow("path through a file") << "file/a.bmp"
                                         << "Cannot create file \"%1\". ";
    QTest::newRow("a folder named like a picture") << "folder.png"
                                                   << "无法保存到 \"%1\"：它不是普通文件";
}

void TestRenderCommand::unwritablePathFailsLeavingNothing()
{
    QFETCH(QString, target);
    QFETCH(QString, message);
    QTemporaryDir folder;
    const QDir dir(folder.path());
    QFile file(dir.filePath(QStringLiteral("file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("kept");
    file.close();
    QVERIFY(dir.mkdir(QStringLiteral("folder.png")));
    const QStringList before = filesIn(dir);

    const Run result = run(dir, {"-o", target, "--seed", "1", "我们"});
    QCOMPARE(result.status, kExitFailed);
    QVERIFY2(result.errors.contains(message.arg(target)), qPrintable(result.errors));
    QCOMPARE(filesIn(dir), before);
    QCOMPARE(contents(dir.filePath(QStringLiteral("file"))), QByteArray("kept"));
    QVERIFY(QDir(dir.filePath(QStringLiteral("folder.png"))).isEmpty());
}

void TestRenderCommand::seedRepeatsAndDiffers()
{
    QTemporaryDir folder;
    const QDir dir(folder.path());
    const auto render = [&dir](const QString &seed, const QString &name) {
        const Run result = run(dir, {"--face", kFace, "--seed", seed, "-o", name, "我们一起喊"});
        return result.status == kExitOk ? contents(dir.filePath(name)) : QByteArray();
    };
    const QByteArray first = render(QStringLiteral("7"), QStringLiteral("a.bmp"));
    QVERIFY(!first.isEmpty());
    QCOMPARE(render(QStringLiteral("7"), QStringLiteral("b.bmp")), first);
    QVERIFY(render(QStringLiteral("8"), QStringLiteral("c.bmp")) != first);
    // Rendering a file over itself gives the same bytes again.
    QCOMPARE(render(QStringLiteral("7"), QStringLiteral("a.bmp")), first);
}

void TestRenderCommand::dpiScalesThePicture()
{
    QTemporaryDir folder;
    const QDir dir(folder.path());
    const auto heightAt = [&dir](const QString &dpi) {
        const Run result = run(dir, {"--face", kFace, "--dpi", dpi, "-o", "a.png", "我"});
        return result.status == kExitOk ? QImage(dir.filePath(QStringLiteral("a.png"))).size() : QSize();
    };
    const QSize at96 = heightAt(QStringLiteral("96"));
    const QSize at192 = heightAt(QStringLiteral("192"));
    QVERIFY(!at96.isEmpty());
    // 110 points are 147 pixels at 96 dpi and 293 at 192: the strip follows
    // the font, give or take the face's rounding of its metrics.
    const auto doubled = [](int small, int large) { return large > 1.95 * small && large < 2.05 * small; };
    QVERIFY2(doubled(at96.height(), at192.height()),
             qPrintable(QStringLiteral("%1 %2").arg(at96.height()).arg(at192.height())));
    QVERIFY2(doubled(at96.width(), at192.width()),
             qPrintable(QStringLiteral("%1 %2").arg(at96.width()).arg(at192.width())));
}

void TestRenderCommand::batchReportsEveryLineInOrder()
{
    QTemporaryDir folder;
    const QDir dir(folder.path());
    QVERIFY(dir.mkdir(QStringLiteral("folder.png")));
    const QByteArray lines =
        "{\"phrase\": \"我们\", \"output\": \"one.png\", \"seed\": 3}\n"
        "\n"
        "{\"phrase\": \"我们\", \"output\": \"two.bmp\", \"spacing\": 40}\n"
        "not json\n"
        "{\"phrase\": \"我\", \"output\": \"folder.png\"}\n"
        "{\"phrase\": \"我\", \"output\": \"three.png\", \"bold\": \"yes\"}\n"
        "{\"phrase\": \"我\", \"output\": \"four.png\", \"colour\": \"gradient\"}\n"
        "[1, 2]\n"
        "{\"phrase\": \"大声\", \"output\": \"five.bmp\", \"bold\": true, \"colours\": \"gradient\"}";
    const Run result = run(dir, {"--batch", "-", "--face", kFace}, lines);
    QCOMPARE(result.status, kExitFailed);
    QVERIFY2(result.errors.contains(QStringLiteral("8 行中有 6 行失败")), qPrintable(result.errors));

    struct Expected {
        int line;
        const char *output;
        const char *error; // nullptr: written
    };
    const Expected expected[] = {
        {1, "one.png", nullptr},
        {3, "two.bmp", "间隔（--spacing）必须是 0 到 36 之间的整数，而不是 “40”。"},
        {4, "", "不是有效的 JSON"},
        {5, "folder.png", "无法保存到"},
        {6, "three.png", "字段 “bold” 必须是 true 或 false。"},
        {7, "four.png", "未知字段：“colour”。"},
        {8, "", "每一行必须是一个 JSON 对象。"},
        {9, "five.bmp", nullptr},
    };
    const QStringList results = result.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(results.size(), std::size(expected));
    // The line number leads, as a reader scanning the results wants it.
    QCOMPARE(results[0], QStringLiteral("{\"line\":1,\"output\":\"one.png\",\"ok\":true}"));
    QVERIFY(results[2].startsWith(
        QStringLiteral("{\"line\":4,\"output\":\"\",\"ok\":false,\"error\":\"不是有效的 JSON")));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const QJsonObject object = QJsonDocument::fromJson(results[qsizetype(i)].toUtf8()).object();
        QCOMPARE(object.value(QStringLiteral("line")).toInt(), expected[i].line);
        QCOMPARE(object.value(QStringLiteral("output")).toString(), QString::fromUtf8(expected[i].output));
        QCOMPARE(object.value(QStringLiteral("ok")).toBool(), expected[i].error == nullptr);
        if (expected[i].error)
            QVERIFY2(object.value(QStringLiteral("error"))
                         .toString()
                         .contains(QString::fromUtf8(expected[i].error)),
                     qPrintable(results[qsizetype(i)]));
        else
            QVERIFY(!object.contains(QStringLiteral("error")));
    }
    QStringList written = filesIn(dir);
    written.sort();
    QCOMPARE(written, (QStringList{"five.bmp", "folder.png", "one.png"}));
}

// Every line rendered in a batch, on one thread or on several, is the file
// the command writes for the same settings on its own.
void TestRenderCommand::batchLineQuotesNumbersAsTyped_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("quoted");
    QTest::newRow("seed 1e300") << QByteArray(R"({"phrase":"我","output":"a.png","seed":1e300})")
                                << "“1e300”";
    QTest::newRow("spacing 4e1") << QByteArray(R"({"spacing": 4e1 ,"phrase":"我","output":"a.png"})")
                                 << "“4e1”";
    QTest::newRow("dpi -0.5") << QByteArray(R"({"phrase":"我","output":"a.png","dpi":-0.50})") << "“-0.50”";
    QTest::newRow("escaped key") << QByteArray(R"({"phrase":"我","output":"a.png","seed":12345678901})")
                                 << "“12345678901”";
}

// A refusal quotes the number as the line wrote it, not as a double reads.
void TestRenderCommand::batchLineQuotesNumbersAsTyped()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, quoted);
    try {
        jobFromJsonLine(line, JobDraft(), 1);
        QFAIL("the line was taken");
    } catch (const UsageError &error) {
        QVERIFY2(error.message().contains(quoted), qPrintable(error.message()));
    }
}

void TestRenderCommand::batchLinesMatchSingleRunsOnAnyThreadCount()
{
    QTemporaryDir folder;
    const QDir dir(folder.path());
    const QStringList phrases = {"我", "我们", "友谊的小船", "一二三四五六七八九十", "Ag&1fj", "喊出来"};
    const QStringList modes = {"random", "gradient", "default"};
    QByteArray lines;
    QStringList single;
    for (int i = 0; i < 24; ++i) {
        QJsonObject object{{"phrase", phrases[i % phrases.size()]},
                           {"output", QStringLiteral("batch%1.%2").arg(i).arg(i % 2 ? "bmp" : "png")},
                           {"colours", modes[i % modes.size()]},
                           {"seed", i},
                           {"spacing", i % 37},
                           {"italic", i % 4 == 1}};
        lines += QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
        const QString name = QStringLiteral("single%1.%2").arg(i).arg(i % 2 ? "bmp" : "png");
        QStringList arguments{"--face",
                              kFace,
                              "--colours",
                              modes[i % modes.size()],
                              "--seed",
                              QString::number(i),
                              "--spacing",
                              QString::number(i % 37),
                              "-o",
                              name,
                              phrases[i % phrases.size()]};
        if (i % 4 == 1)
            arguments << "--italic";
        const Run result = run(dir, arguments);
        QVERIFY2(result.status == kExitOk, qPrintable(result.errors));
        single << name;
    }

    for (const int threads : {1, 4}) {
        QBuffer in;
        in.setData(lines);
        in.open(QIODevice::ReadOnly);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        JobDraft defaults;
        defaults.job.settings.faceName = kFace;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const std::optional<QByteArray> failed = inOneThread([&] {
            const std::atomic<int> stop{0};
            return QByteArray::number(runBatch(in, defaults, out, threads, stop).failed);
        });
        QDir::setCurrent(previous);
        QCOMPARE(failed, std::optional<QByteArray>("0"));
        for (int i = 0; i < single.size(); ++i) {
            const QString name = QStringLiteral("batch%1.%2").arg(i).arg(i % 2 ? "bmp" : "png");
            QVERIFY2(contents(dir.filePath(name)) == contents(dir.filePath(single[i])),
                     qPrintable(QStringLiteral("%1 on %2 threads").arg(name).arg(threads)));
            QVERIFY(QFile::remove(dir.filePath(name)));
        }
    }
}

void TestRenderCommand::batchFromMissingFileIsBadInput()
{
    QTemporaryDir folder;
    const Run result = run(QDir(folder.path()), {"--batch", "jobs.jsonl"});
    QCOMPARE(result.status, kExitBadInput);
    QVERIFY2(result.errors.contains(QStringLiteral("无法读取批处理文件“jobs.jsonl”")),
             qPrintable(result.errors));
}

void TestRenderCommand::helpIsChinese()
{
    QTemporaryDir folder;
    const Run result = run(QDir(folder.path()), {"--help"});
    QCOMPARE(result.status, kExitOk);
    QVERIFY(result.output.startsWith(QStringLiteral("用法：quillow-render [选项] -o FILE 短语")));
    for (const char *option : {"--output",        "--format",         "--face",
                               "--bold",          "--italic",         "--underline",
                               "--strike-out",    "--halign",         "--valign",
                               "--spacing",       "--colours",        "--start",
                               "--end",           "--seed",           "--dpi",
                               "--batch",         "--effect",         "--frame-ms",
                               "--hold-ms",       "--matte",          "--quality",
                               "--outline",       "--outline-colour", "--shadow",
                               "--shadow-colour", "--shadow-offset",  "--shadow-blur",
                               "--preset",        "--max-bytes"})
        QVERIFY2(result.output.contains(QLatin1String(option)), option);
}

void TestRenderCommand::helpListsEveryRowOfTheTables_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("name");
    for (const StickerPreset &preset : stickerPresets())
        QTest::addRow("preset %s", qPrintable(preset.name)) << "preset" << preset.name;
    for (const QString &effect : effectNames())
        QTest::addRow("effect %s", qPrintable(effect)) << "effect" << effect;
    for (const OutputFileFormat &format : outputFileFormats())
        QTest::addRow("format %s", qPrintable(QString(format.name))) << "format" << QString(format.name);
    for (const NamedStickerLook &look : namedStickerLooks())
        QTest::addRow("look %s", qPrintable(look.name)) << "look" << look.name;
}

// A row added to one of the tables is offered by --help and taken by the
// option, with no second list to keep in step.
void TestRenderCommand::helpListsEveryRowOfTheTables()
{
    QFETCH(QString, option);
    QFETCH(QString, name);
    QTemporaryDir folder;
    const Run result = run(QDir(folder.path()), {"--help"});
    QCOMPARE(result.status, kExitOk);
    const QString heading = QStringLiteral("  --%1 ").arg(option);
    const qsizetype at = result.output.indexOf(heading);
    QVERIFY2(at >= 0, qPrintable(heading));
    const qsizetype start = at + heading.size();
    const QStringList values =
        result.output.mid(start, result.output.indexOf(u'\n', start) - start).split(u'|');
    QVERIFY2(values.contains(name), qPrintable(values.join(u'|')));

    JobDraft draft;
    applyOption(draft, option, name);
}

// Each option sets its part of the sticker, the same from the command line
// and from a batch line.
void TestRenderCommand::stickerOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("effect");
    QTest::addColumn<int>("frameMs");
    QTest::addColumn<int>("holdMs");
    QTest::addColumn<int>("outline");
    QTest::addColumn<QString>("outlineColour");
    QTest::addColumn<bool>("shadow");
    QTest::addColumn<QString>("shadowColour");
    QTest::addColumn<QPoint>("shadowOffset");
    QTest::addColumn<int>("shadowBlur");
    QTest::addColumn<QString>("matte"); // "": none
    QTest::addColumn<int>("quality");
    QTest::addColumn<QString>("preset");
    QTest::addColumn<qint64>("maxBytes"); // -1: none

    const QString gif = "gif", webp = "webp", apng = "apng", alpha = "png-alpha";
    // clang-format off
    QTest::newRow("defaults") << QStringList{"-o", "a.gif", "加油"} << gif << "still" << 120 << 1500 << 0
                              << "#FFFFFF" << false << "#00000080" << QPoint(2, 2) << 3 << "" << -1 << ""
                              << qint64(-1);
    QTest::newRow("reveal timing and a matte")
        << QStringList{"--effect", " Reveal ", "--frame-ms", "10", "--hold-ms", "0", "--matte", "#1e1e1e",
                       "-o", "a.gif", "加油"}
        << gif << "reveal" << 10 << 0 << 0 << "#FFFFFF" << false << "#00000080" << QPoint(2, 2) << 3
        << "#1E1E1E" << -1 << "" << qint64(-1);
    QTest::newRow("outline and shadow at their limits")
        << QStringList{"--outline", "12", "--outline-colour", "#102030", "--shadow", "--shadow-colour",
                       "#FF000040", "--shadow-offset", "-20, 20", "--shadow-blur", "20", "--effect",
                       "reveal-shake", "-o", "a.webp", "加油"}
        << webp << "reveal-shake" << 120 << 1500 << 12 << "#102030" << true << "#FF000040" << QPoint(-20, 20)
        << 20 << "" << -1 << "" << qint64(-1);
    QTest::newRow("lossy WebP, longest timing")
        << QStringList{"--quality", "0", "--frame-ms", "10000", "--hold-ms", "60000", "-o", "a.webp", "加油"}
        << webp << "still" << 10000 << 60000 << 0 << "#FFFFFF" << false << "#00000080" << QPoint(2, 2) << 3
        << "" << 0 << "" << qint64(-1);
    QTest::newRow("preset and cap on a .png")
        << QStringList{"--preset", "Discord-Sticker", "--max-bytes", "1073741824", "-o", "a.png", "加油"}
        << alpha << "still" << 120 << 1500 << 0 << "#FFFFFF" << false << "#00000080" << QPoint(2, 2) << 3
        << "" << -1 << "discord-sticker" << qint64(1073741824);
    QTest::newRow("shake by name on a .png")
        << QStringList{"--effect", "shake", "--format", "apng", "-o", "a.png", "加油"}
        << apng << "shake" << 120 << 1500 << 0 << "#FFFFFF" << false << "#00000080" << QPoint(2, 2) << 3
        << "" << -1 << "" << qint64(-1);
    // clang-format on
}

void TestRenderCommand::stickerOptions()
{
    QFETCH(QStringList, arguments);
    const RenderJob fromCommand = parseCommandLine(QStringList{"quillow-render"} + arguments).draft.job;
    const RenderJob fromLine = jobFromJsonLine(asBatchLine(arguments), JobDraft(), 1);
    for (const RenderJob &job : {fromCommand, fromLine}) {
        const StickerOptions &sticker = job.sticker;
        QTEST(QString(job.format->name), "format");
        QTEST(effectName(sticker.effect), "effect");
        QTEST(sticker.timing.frameMs, "frameMs");
        QTEST(sticker.timing.holdMs, "holdMs");
        QTEST(sticker.look.outlineWidth, "outline");
        QTEST(formatStickerColour(sticker.look.outlineColour), "outlineColour");
        QTEST(sticker.look.shadow, "shadow");
        QTEST(formatStickerColour(sticker.look.shadowColour), "shadowColour");
        QTEST(sticker.look.shadowOffset, "shadowOffset");
        QTEST(sticker.look.shadowBlur, "shadowBlur");
        QTEST(sticker.matte ? formatStickerColour(*sticker.matte) : QString(), "matte");
        QTEST(sticker.webpQuality, "quality");
        QTEST(sticker.preset ? sticker.preset->name : QString(), "preset");
        QTEST(sticker.maxBytes.value_or(-1), "maxBytes");
    }
}

void TestRenderCommand::namedLookSetsTheOutline_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("outline");
    QTest::addColumn<QString>("outlineColour");
    QTest::addColumn<int>("edge");
    QTest::newRow("readable") << QStringList{"--look", "Readable"} << 3 << "#FFFFFF" << 2;
    QTest::newRow("readable, wider") << QStringList{"--outline", "5", "--look", "readable"} << 5 << "#FFFFFF"
                                     << 2;
    QTest::newRow("readable in yellow")
        << QStringList{"--look", "readable", "--outline-colour", "#FFFF00"} << 3 << "#FFFF00" << 2;
    QTest::newRow("readable without its rim")
        << QStringList{"--outline-edge", "0", "--look", "readable"} << 3 << "#FFFFFF" << 0;
    QTest::newRow("plain, then an outline")
        << QStringList{"--look", "plain", "--outline", "2"} << 2 << "#FFFFFF" << 0;
    QTest::newRow("a rim alone") << QStringList{"--outline-edge", "4"} << 0 << "#FFFFFF" << 4;
    QTest::newRow("an explicit colour without a look")
        << QStringList{"--outline", "3", "--outline-colour", "#FF00FF"} << 3 << "#FF00FF" << 0;
}

// A look sets the outline as a whole; the outline's own options, wherever
// they stand, change their part of it, on the command line and in a batch
// line alike.
void TestRenderCommand::namedLookSetsTheOutline()
{
    QFETCH(QStringList, arguments);
    arguments << "-o"
              << "a.webp"
              << "加油";
    const RenderJob fromCommand = parseCommandLine(QStringList{"quillow-render"} + arguments).draft.job;
    const RenderJob fromLine = jobFromJsonLine(asBatchLine(arguments), JobDraft(), 1);
    for (const RenderJob &job : {fromCommand, fromLine}) {
        QTEST(job.sticker.look.outlineWidth, "outline");
        QTEST(formatStickerColour(job.sticker.look.outlineColour), "outlineColour");
        QTEST(job.sticker.look.edgeWidth, "edge");
    }
}

// The suffix chooses the format unless --format does; a ".png" is the
// window's PNG until an animation, a look, a preset or a cap asks for a
// sticker. Only stickers go through makeSticker().
void TestRenderCommand::formatChoice_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("sticker");

    const QString png = "png", bmp = "bmp", alpha = "png-alpha", apng = "apng", gif = "gif", webp = "webp",
                  webm = "webm";
    QTest::newRow(".png") << QStringList{"-o", "a.png"} << png << false;
    QTest::newRow(".PNG with a still effect and timing")
        << QStringList{"--effect", "still", "--frame-ms", "50", "--hold-ms", "0", "-o", "a.PNG"} << png
        << false;
    QTest::newRow(".png, outline colour without an outline")
        << QStringList{"--outline-colour", "#000000", "-o", "a.png"} << png << false;
    QTest::newRow(".bmp") << QStringList{"-o", "a.bmp"} << bmp << false;
    QTest::newRow("png-alpha plain") << QStringList{"--format", "png-alpha", "-o", "a"} << alpha << false;
    QTest::newRow("png-alpha at a scale")
        << QStringList{"--format", "png-alpha", "--scale", "2", "-o", "a.png"} << alpha << false;
    QTest::newRow("png-alpha with an outline")
        << QStringList{"--format", "png-alpha", "--outline", "1", "-o", "a.png"} << alpha << true;
    QTest::newRow(".png with a shadow") << QStringList{"--shadow", "-o", "a.png"} << alpha << true;
    QTest::newRow(".png, readable look") << QStringList{"--look", "readable", "-o", "a.png"} << alpha << true;
    QTest::newRow(".png with only a rim")
        << QStringList{"--outline-edge", "1", "-o", "a.png"} << alpha << true;
    QTest::newRow(".png with a cap") << QStringList{"--max-bytes", "9000", "-o", "a.png"} << alpha << true;
    QTest::newRow(".png with a preset") << QStringList{"--preset", "wechat", "-o", "a.png"} << alpha << true;
    QTest::newRow(".png in two rows") << QStringList{"--rows", "2", "-o", "a.png"} << alpha << true;
    QTest::newRow("png-alpha in one row")
        << QStringList{"--rows", "1", "--format", "png-alpha", "-o", "a.png"} << alpha << false;
    QTest::newRow(".png in tiles") << QStringList{"--tiles", "auto", "-o", "a.png"} << alpha << true;
    QTest::newRow(".png revealing") << QStringList{"--effect", "reveal", "-o", "a.png"} << apng << true;
    QTest::newRow(".apng still") << QStringList{"-o", "a.apng"} << apng << true;
    QTest::newRow(".gif") << QStringList{"-o", "a.Gif"} << gif << true;
    QTest::newRow(".webp") << QStringList{"-o", "a.webp"} << webp << true;
    QTest::newRow(".webm") << QStringList{"-o", "a.webm"} << webm << true;
    QTest::newRow("format webm") << QStringList{"--format", "webm", "-o", "a.webm"} << webm << true;
    QTest::newRow("format apng on a .png") << QStringList{"--format", "apng", "-o", "a.png"} << apng << true;
    QTest::newRow("format gif over a .webp") << QStringList{"--format", "GIF", "-o", "a.webp"} << gif << true;
    QTest::newRow("format bmp over a .gif") << QStringList{"--format", "bmp", "-o", "a.gif"} << bmp << false;
}

void TestRenderCommand::formatChoice()
{
    QFETCH(QStringList, arguments);
    const RenderJob job =
        parseCommandLine(QStringList{"quillow-render"} + arguments + QStringList{"我"}).draft.job;
    QTEST(QString(job.format->name), "format");
    QTEST(needsStickerMaker(job), "sticker");
}

// Where the output names no format (the service's answers), the options
// choose it: the window's PNG for a plain strip, and for a sticker the
// preset's own format, as the command line and the window choose it.
void TestRenderCommand::formatByOptionsIsThePresets_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("format");

    QTest::newRow("plain strip") << QByteArray(R"({"phrase":"加油"})") << "png";
    QTest::newRow("a shadow, no preset") << QByteArray(R"({"phrase":"加油","shadow":true})") << "png-alpha";
    QTest::newRow("a reveal, no preset") << QByteArray(R"({"phrase":"加油","effect":"reveal"})") << "apng";
    QTest::newRow("whatsapp") << QByteArray(R"({"phrase":"加油","preset":"whatsapp"})") << "webp";
    QTest::newRow("wechat, reveal") << QByteArray(R"({"phrase":"加油","preset":"wechat","effect":"reveal"})")
                                    << "gif";
    QTest::newRow("telegram, reveal")
        << QByteArray(R"({"phrase":"加油","preset":"telegram","effect":"reveal"})") << "webm";
    QTest::newRow("line, shake") << QByteArray(R"({"phrase":"加油","preset":"line","effect":"shake"})")
                                 << "apng";
    QTest::newRow("a format given wins")
        << QByteArray(R"({"phrase":"加油","preset":"telegram","format":"webp"})") << "webp";
}

void TestRenderCommand::formatByOptionsIsThePresets()
{
    QFETCH(QByteArray, line);
    JobDraft byOptions;
    byOptions.formatByOptions = true;
    byOptions.job.output = QStringLiteral("render");
    const RenderJob job = jobFromJsonLine(line, byOptions, 1);
    QTEST(QString(job.format->name), "format");
    // The same format as the command line's for the suffix it is saved with.
    JobDraft bySuffix;
    bySuffix.job.output = QStringLiteral("a.") + QString(job.format->suffix);
    QCOMPARE(jobFromJsonLine(line, bySuffix, 1).format, job.format);
}

// Every refusal names the option or field it is about, so that a program
// reading the service's answer can point at it; a line that is not an
// object at all names none.
void TestRenderCommand::refusalsNameTheirField_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("key");

    const auto row = [](const char *name, const char *line, const char *key) {
        QTest::newRow(name) << QByteArray(line) << QString::fromUtf8(key);
    };
    row("not JSON", R"({"phrase":)", "");
    row("not an object", R"([1])", "");
    row("no phrase", R"({"output":"a.png"})", "phrase");
    row("phrase too long", R"({"phrase":"一二三四五六七八九十一","output":"a.png"})", "phrase");
    row("phrase not text", R"({"phrase":3,"output":"a.png"})", "phrase");
    row("no output", R"({"phrase":"我"})", "output");
    row("suffix of no format", R"({"phrase":"我","output":"a.jpg"})", "output");
    row("unknown field", R"({"phrase":"我","output":"a.png","colour":"red"})", "colour");
    row("flag not a boolean", R"({"phrase":"我","output":"a.png","bold":3})", "bold");
    row("spacing out of range", R"({"phrase":"我","output":"a.png","spacing":99})", "spacing");
    row("seed too large", R"({"phrase":"我","output":"a.png","seed":"4294967296"})", "seed");
    row("effect unknown", R"({"phrase":"我","output":"a.gif","effect":"spin"})", "effect");
    row("matte on a WebP", R"({"phrase":"我","output":"a.webp","matte":"#000000"})", "matte");
    row("matte not a colour", R"({"phrase":"我","output":"a.gif","matte":"black"})", "matte");
    row("quality on a GIF", R"({"phrase":"我","output":"a.gif","quality":50})", "quality");
    row("dpi out of range", R"({"phrase":"我","output":"a.png","dpi":0})", "dpi");
    row("dpi on a sticker", R"({"phrase":"我","output":"a.gif","dpi":200})", "dpi");
    row("scale on a sticker", R"({"phrase":"我","output":"a.gif","scale":2})", "scale");
    row("cap of no bytes", R"({"phrase":"我","output":"a.png","max-bytes":0})", "max-bytes");
    row("tiles not a grid", R"({"phrase":"我","output":"a.png","tiles":"9"})", "tiles");
    row("tiles of a window picture", R"({"phrase":"我","output":"a.bmp","tiles":"2x1"})", "tiles");
    row("rows of a window picture", R"({"phrase":"我","output":"a.bmp","rows":2})", "rows");
    row("a format the preset does not take", R"({"phrase":"我","output":"a.gif","preset":"whatsapp"})",
        "format");
    row("a preset's animation in a still's suffix",
        R"({"phrase":"我","output":"a.png","preset":"wechat","effect":"reveal"})", "format");
    row("outline on a window picture", R"({"phrase":"我","output":"a.bmp","outline":2})", "format");
    row("a cap no file meets",
        R"({"phrase":"一二三四五","output":"a.gif","effect":"reveal","max-bytes":100})", "max-bytes");
}

void TestRenderCommand::refusalsNameTheirField()
{
    QFETCH(QByteArray, line);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QByteArray inFolder =
        QByteArray(line).replace("\"output\":\"", "\"output\":\"" + folder.path().toUtf8() + '/');
    const BatchResult result = runBatchLine({1, inFolder, false}, JobDraft());
    QVERIFY2(!result.ok() && result.badInput, qPrintable(result.error));
    QTEST(result.key, "key");
}

// Every sticker format with every effect: the file is what its suffix says,
// and holds the effect's frames, as read by decoders that are not ours.
void TestRenderCommand::stickerFilesHoldTheirFrames_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("magic");
    QTest::addColumn<int>("frames");

    const QByteArray png("\x89PNG\r\n\x1a\n", 8);
    // Two characters: a reveal of 2 frames, one shake cycle of 6, and the
    // reveal, two cycles and the strip at rest again.
    const struct {
        const char *effect;
        int frames;
    } effects[] = {{"still", 1}, {"reveal", 2}, {"shake", 6}, {"reveal-shake", 15}};
    const struct {
        const char *name;
        QByteArray magic;
    } formats[] = {{"a.apng", png}, {"a.gif", "GIF89a"}, {"a.webp", "RIFF"}};
    for (const auto &format : formats) {
        for (const auto &effect : effects)
            QTest::addRow("%s %s", format.name, effect.effect)
                << QStringList{"--effect", effect.effect, "-o", format.name} << format.magic << effect.frames;
    }
    QTest::newRow("png-alpha with outline and shadow")
        << QStringList{"--outline", "3", "--shadow", "-o", "a.png"} << png << 1;
    QTest::newRow("reveal in a .png") << QStringList{"--effect", "reveal", "-o", "a.png"} << png << 2;
}

void TestRenderCommand::writesAWebmVideo()
{
    QTemporaryDir folder;
    const QDir dir(folder.path());
    const Run result = run(dir, {"--format", "webm", "--effect", "reveal", "-o", "x.webm", "--face", kFace,
                                 "--seed", "5", "喊喊"});
    QVERIFY2(result.status == kExitOk, qPrintable(result.errors));
    QCOMPARE(filesIn(dir), QStringList{QStringLiteral("x.webm")});
    const QByteArray bytes = contents(dir.filePath(QStringLiteral("x.webm")));
    QVERIFY(bytes.startsWith(QByteArray::fromHex("1a45dfa3"))); // EBML
    QVERIFY(bytes.left(64).contains("webm"));                   // its DocType
}

void TestRenderCommand::stickerFilesHoldTheirFrames()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, magic);
    QFETCH(int, frames);
    QTemporaryDir folder;
    const QDir dir(folder.path());

    const Run result = run(dir, arguments + QStringList{"--face", kFace, "--seed", "5", "加油"});
    QVERIFY2(result.status == kExitOk, qPrintable(result.errors));
    const QString name = filesIn(dir).value(0);
    QCOMPARE(filesIn(dir).size(), 1);
    const QByteArray bytes = contents(dir.filePath(name));
    QVERIFY(bytes.startsWith(magic));
    if (magic == "RIFF")
        QCOMPARE(bytes.mid(8, 4), QByteArray("WEBP"));
    QCOMPARE(framesIn(dir.filePath(name), bytes), frames);
}

// A sticker line reports what it made after "ok":true; a line of the
// window's formats reports as it always has; a warning names its line.
void TestRenderCommand::batchReportsStickerFacts()
{
    QTemporaryDir folder;
    const QDir dir(folder.path());
    const QByteArray lines =
        R"({"phrase":"加油","output":"a.gif","effect":"reveal","outline":3,"max-bytes":1000000}
{"phrase":"一二三四五六七八九十","output":"b.png","preset":"discord-emoji","seed":2}
{"phrase":"加油","output":"c.png","seed":1}
{"phrase":"加油","output":"d.webp","effect":"shake"}
)";
    const Run result = run(dir, {"--batch", "-", "--face", kFace}, lines);
    QVERIFY2(result.status == kExitOk, qPrintable(result.errors + result.output));
    const QStringList results = result.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(results.size(), 4);

    QVERIFY2(results[0].startsWith(QStringLiteral(R"({"line":1,"output":"a.gif","ok":true,"bytes":)")),
             qPrintable(results[0]));
    const QJsonObject gif = QJsonDocument::fromJson(results[0].toUtf8()).object();
    const QByteArray gifBytes = contents(dir.filePath(QStringLiteral("a.gif")));
    QCOMPARE(gif.value(QStringLiteral("bytes")).toInteger(), gifBytes.size());
    QCOMPARE(gif.value(QStringLiteral("frames")).toInt(),
             framesIn(dir.filePath(QStringLiteral("a.gif")), gifBytes));
    QCOMPARE(gif.value(QStringLiteral("cap")).toInteger(), 1000000);
    const int colours = gif.value(QStringLiteral("colours")).toInt();
    QVERIFY2(colours >= 2 && colours <= 256, qPrintable(results[0]));
    const int quality = gif.value(QStringLiteral("quality")).toInt(-1);
    QVERIFY2(quality >= 0 && quality <= 100, qPrintable(results[0]));

    // A preset's cap is reported too.
    const QJsonObject preset = QJsonDocument::fromJson(results[1].toUtf8()).object();
    QCOMPARE(preset.value(QStringLiteral("cap")).toInteger(), 256 * 1024);
    QVERIFY(preset.value(QStringLiteral("bytes")).toInteger() <= 256 * 1024);
    QVERIFY2(result.errors.contains(QStringLiteral("quillow-render: 第 2 行：")), qPrintable(result.errors));
    QVERIFY2(!result.errors.contains(QStringLiteral("第 1 行")), qPrintable(result.errors));

    QCOMPARE(results[2], QStringLiteral(R"({"line":3,"output":"c.png","ok":true})"));

    const QJsonObject webp = QJsonDocument::fromJson(results[3].toUtf8()).object();
    QVERIFY(webp.contains(QStringLiteral("frames")));
    QVERIFY(!webp.contains(QStringLiteral("cap")));
    QVERIFY(!webp.contains(QStringLiteral("colours")));
}

// A cap no file can meet is the input's fault: exit 2 alone, the line's
// error in a batch, and no file either way.
void TestRenderCommand::capThatCannotBeMetWritesNothing()
{
    QTemporaryDir folder;
    const QDir dir(folder.path());
    const Run single =
        run(dir, {"--face", kFace, "--effect", "reveal", "--max-bytes", "20", "-o", "a.gif", "加油"});
    QCOMPARE(single.status, kExitBadInput);
    QVERIFY2(single.errors.startsWith(QStringLiteral("quillow-render: ")), qPrintable(single.errors));
    QVERIFY2(single.errors.contains(QStringLiteral("20")), qPrintable(single.errors));

    const Run telegram =
        run(dir, {"--face", kFace, "--preset", "telegram", "--effect", "reveal", "-o", "a.webp", "加油"});
    QCOMPARE(telegram.status, kExitBadInput);

    const Run batch = run(dir, {"--batch", "-", "--face", kFace},
                          R"({"phrase":"加油","output":"b.webp","effect":"shake","max-bytes":20})");
    QCOMPARE(batch.status, kExitFailed);
    const QJsonObject line = QJsonDocument::fromJson(batch.output.toUtf8()).object();
    QCOMPARE(line.value(QStringLiteral("ok")).toBool(true), false);
    QVERIFY(line.value(QStringLiteral("error")).toString().contains(QStringLiteral("20")));
    QCOMPARE(filesIn(dir), QStringList());
}

// Only a phrase with nothing to draw is refused: the marks and joiners
// beside a letter are part of it.
void TestRenderCommand::invisibleMarksWithALetterAreDrawn()
{
    QTemporaryDir folder;
    const QDir dir(folder.path());
    const Run result = run(dir, {"--face", kFace, "-o", "a.png", QStringLiteral("\u200Be\u0301")});
    QVERIFY2(result.status == kExitOk, qPrintable(result.errors));
    QVERIFY(!QImage(dir.filePath(QStringLiteral("a.png"))).isNull());
}

void TestRenderCommand::revealOfOneCharacterWarns()
{
    QTemporaryDir folder;
    const QDir dir(folder.path());
    const Run one = run(dir, {"--face", kFace, "--effect", "reveal", "-o", "a.gif", "喊"});
    QCOMPARE(one.status, kExitOk);
    QCOMPARE(
        one.errors,
        QStringLiteral("quillow-render: 只有一个字，逐字出现只有一帧：贴纸是一张静止的图片，不会播放\n"));
    QCOMPARE(framesIn(dir.filePath(QStringLiteral("a.gif")), contents(dir.filePath(QStringLiteral("a.gif")))),
             1);

    // Shaking still moves one character; two characters appear in turn.
    for (const QStringList &arguments : {QStringList{"--effect", "reveal-shake", "-o", "b.gif", "喊"},
                                         QStringList{"--effect", "reveal", "-o", "c.gif", "喊叫"}}) {
        const Run quiet = run(dir, QStringList{"--face", kFace} + arguments);
        QCOMPARE(quiet.status, kExitOk);
        QCOMPARE(quiet.errors, QString());
    }
}

void TestRenderCommand::stillWebpIsNoAnimation_data()
{
    QTest::addColumn<QStringList>("arguments");
    for (const char *seed : {"1", "2", "3", "4"})
        QTest::addRow("Telegram, seed %s", seed) << QStringList{"--preset", "telegram", "--seed", seed, "喊"};
    QTest::newRow("lossy with an outline") << QStringList{"--quality", "60", "--outline", "4", "加油"};
    QTest::newRow("a reveal of one character") << QStringList{"--effect", "reveal", "喊"};
}

// dwebp and FFmpeg refuse a WebP of one ANMF frame; a still has none.
void TestRenderCommand::stillWebpIsNoAnimation()
{
    QFETCH(QStringList, arguments);
    QTemporaryDir folder;
    const QDir dir(folder.path());
    const Run result = run(dir, QStringList{"--face", kFace, "-o", "a.webp"} + arguments);
    QVERIFY2(result.status == kExitOk, qPrintable(result.errors));
    const QList<QByteArray> chunks = webpChunks(contents(dir.filePath(QStringLiteral("a.webp"))));
    QVERIFY2(!chunks.isEmpty() && !chunks.contains("ANIM") && !chunks.contains("ANMF"),
             qPrintable(chunks.join(' ')));
}

// A space between two characters adds a reveal frame equal to the one
// before, which the WebP encoder merges into it.
void TestRenderCommand::batchFramesAreTheFilesFrames()
{
    QTemporaryDir folder;
    const QDir dir(folder.path());
    const QByteArray lines = R"({"phrase":"加 油 啊","output":"a.webp","effect":"reveal"}
{"phrase":"加 油 啊","output":"b.gif","effect":"reveal"}
{"phrase":"加 油 啊","output":"c.apng","effect":"reveal","outline":2}
)";
    const Run result = run(dir, {"--batch", "-", "--face", kFace}, lines);
    QVERIFY2(result.status == kExitOk, qPrintable(result.errors + result.output));
    const QStringList results = result.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(results.size(), 3);
    for (const QString &line : results) {
        const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
        const QString path = dir.filePath(object.value(QStringLiteral("output")).toString());
        QCOMPARE(object.value(QStringLiteral("frames")).toInt(), framesIn(path, contents(path)));
    }
    QVERIFY2(QJsonDocument::fromJson(results[0].toUtf8()).object().value(QStringLiteral("frames")).toInt() <
                 5,
             qPrintable(results[0]));
}

// Lines that write one file give what running them one after another
// gives, whatever their speed: the last wins, and each report is true of
// the file its line wrote. The slow first line would otherwise finish last.
void TestRenderCommand::batchLinesOfOneFileRunInOrder()
{
    QTemporaryDir folder;
    const QDir dir(folder.path());
    QVERIFY(dir.mkdir(QStringLiteral("sub")));
    const QByteArray lines =
        R"({"phrase":"友谊的小船说翻就翻啊","output":"x.gif","effect":"reveal-shake","outline":12,"shadow":true,"seed":1}
{"phrase":"喊","output":"sub/../x.gif","seed":2}
{"phrase":"友谊的小船说翻就翻啊","output":"y.webp","effect":"reveal-shake","outline":12,"seed":3}
{"phrase":"加油","output":"./y.webp","seed":4,"max-bytes":10}
)";
    const Run result = run(dir, {"--batch", "-", "--face", kFace}, lines);
    QCOMPARE(result.status, kExitFailed);
    const QStringList results = result.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(results.size(), 4);

    const Run alone = run(dir, {"--face", kFace, "--seed", "2", "-o", "alone.gif", "喊"});
    QCOMPARE(alone.status, kExitOk);
    const QByteArray x = contents(dir.filePath(QStringLiteral("x.gif")));
    QCOMPARE(x, contents(dir.filePath(QStringLiteral("alone.gif"))));
    QCOMPARE(QJsonDocument::fromJson(results[1].toUtf8()).object().value(QStringLiteral("bytes")).toInteger(),
             x.size());

    // A later line that fails leaves the earlier line's file as reported.
    QVERIFY2(results[3].contains(QStringLiteral(R"("ok":false)")), qPrintable(results[3]));
    const QByteArray y = contents(dir.filePath(QStringLiteral("y.webp")));
    QCOMPARE(QJsonDocument::fromJson(results[2].toUtf8()).object().value(QStringLiteral("bytes")).toInteger(),
             y.size());
}

void TestRenderCommand::batchRefusesNamesTheSystemWouldChange_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("message"); // empty: written under the name given
    QTest::addColumn<QString>("written");

    QTest::newRow("escaped NUL") << QByteArray(R"({"phrase":"喊","output":"victim\u0000.png","seed":1})")
                                 << "输出文件名的第 7 个字符是 NUL" << QString();
    QTest::newRow("raw NUL byte") << QByteArray(R"({"phrase":"喊","output":"victim)") + '\0' +
                                         QByteArray(R"(.png","seed":1})")
                                  << "输出文件名的第 7 个字符是 NUL" << QString();
    QTest::newRow("NUL in a tile set's name")
        << QByteArray(
               R"({"phrase":"喊叫","output":"victim\u0000.png","preset":"discord-emoji","tiles":"2x1"})")
        << "是 NUL" << QString();
    QTest::newRow("lone high surrogate") << QByteArray(R"({"phrase":"喊","output":"\ud83d.png"})")
                                         << "输出文件名的第 1 个字符是单独的代理项" << QString();
    QTest::newRow("lone low surrogate after a letter")
        << QByteArray(R"({"phrase":"喊","output":"a\udc00.png"})") << "第 2 个字符是单独的代理项"
        << QString();
    QTest::newRow("pair in the wrong order") << QByteArray(R"({"phrase":"喊","output":"\ude00\ud83d.png"})")
                                             << "第 1 个字符是单独的代理项" << QString();
    QTest::newRow("a pair is one character")
        << QByteArray(R"({"phrase":"喊","output":"\ud83d\ude00.png","seed":1})") << QString()
        << QStringLiteral("\U0001F600.png");
}

// A name the system would read as another one (cut at a NUL, a lone
// surrogate turned into U+FFFD) is the line's error: the file it would
// have hit keeps its bytes and nothing is created.
void TestRenderCommand::batchRefusesNamesTheSystemWouldChange()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, message);
    QFETCH(QString, written);
    QTemporaryDir folder;
    const QDir dir(folder.path());
    QFile victim(dir.filePath(QStringLiteral("victim")));
    QVERIFY(victim.open(QIODevice::WriteOnly));
    victim.write("precious");
    victim.close();

    const Run result = run(dir, {"--batch", "-", "--face", kFace}, line + '\n');
    QCOMPARE(contents(victim.fileName()), QByteArray("precious"));
    if (message.isEmpty()) {
        QVERIFY2(result.status == kExitOk, qPrintable(result.errors + result.output));
        QCOMPARE(filesIn(dir), QStringList({QStringLiteral("victim"), written}));
        return;
    }
    QCOMPARE(result.status, kExitFailed);
    QVERIFY2(result.output.contains(QStringLiteral(R"("ok":false)")) && result.output.contains(message),
             qPrintable(result.output));
    QCOMPARE(filesIn(dir), QStringList({QStringLiteral("victim")}));
}

// Every file a line writes counts when later lines wait for earlier ones:
// each tile of a set, and the file a link leads to even before an earlier
// line has made it. The slow first lines would otherwise finish last.
void TestRenderCommand::batchOrderCountsEveryFileALineWrites()
{
    QTemporaryDir folder;
    const QDir dir(folder.path());
    QVERIFY(QFile::link(QStringLiteral("made.gif"), dir.filePath(QStringLiteral("link.gif"))));
    const QByteArray lines =
        R"({"phrase":"友谊的小船说翻就翻了","preset":"slack","tiles":"auto","effect":"reveal-shake","seed":31,"output":"t.gif"}
{"phrase":"快","preset":"slack","effect":"shake","seed":5,"output":"t-3.gif"}
{"phrase":"友谊的小船说翻就翻啊","output":"made.gif","effect":"reveal-shake","outline":12,"shadow":true,"seed":1}
{"phrase":"喊","output":"link.gif","seed":2}
)";
    const Run result = run(dir, {"--batch", "-", "--face", kFace}, lines);
    QVERIFY2(result.status == kExitOk, qPrintable(result.errors + result.output));
    const QStringList results = result.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(results.size(), 4);
    QVERIFY2(results[0].contains(QStringLiteral("t-3.gif")), qPrintable(results[0]));

    QVERIFY(run(dir, {"--face", kFace, "--preset", "slack", "--effect", "shake", "--seed", "5", "-o",
                      "quick.gif", "快"})
                .status == kExitOk);
    QCOMPARE(contents(dir.filePath(QStringLiteral("t-3.gif"))),
             contents(dir.filePath(QStringLiteral("quick.gif"))));
    QVERIFY(run(dir, {"--face", kFace, "--seed", "2", "-o", "shout.gif", "喊"}).status == kExitOk);
    QCOMPARE(contents(dir.filePath(QStringLiteral("made.gif"))),
             contents(dir.filePath(QStringLiteral("shout.gif"))));
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("link.gif"))).isSymLink());
}

// Tiles play in step only with the same frames: a tile that stays empty
// while the characters of another appear must not lose those frames to the
// encoder's merging of equal neighbours. Each tile's frames are reported,
// and are the file's.
void TestRenderCommand::tilesKeepOneTimeline()
{
    QTemporaryDir folder;
    const QDir dir(folder.path());
    const QByteArray line =
        R"({"phrase":"友谊的小船说翻","preset":"slack","tiles":"auto","effect":"reveal","seed":3,"output":"w.gif"})";
    const Run result = run(dir, {"--batch", "-", "--face", kFace}, line + '\n');
    QVERIFY2(result.status == kExitOk, qPrintable(result.errors + result.output));
    const QJsonObject object = QJsonDocument::fromJson(result.output.toUtf8()).object();
    const QJsonArray files = object.value(QStringLiteral("tiles")).toArray();
    const QJsonArray frames = object.value(QStringLiteral("tileFrames")).toArray();
    QVERIFY2(files.size() > 1 && frames.size() == files.size(), qPrintable(result.output));
    for (qsizetype index = 0; index < files.size(); ++index) {
        QImageReader reader(dir.filePath(files[index].toString()));
        const int inFile = reader.imageCount();
        QCOMPARE(frames[index].toInt(), inFile);
        QCOMPARE(inFile, object.value(QStringLiteral("frames")).toInt());
    }
    // At least a frame per character: nothing merged away.
    QVERIFY2(object.value(QStringLiteral("frames")).toInt() >= 6, qPrintable(result.output));
}

QTEST_MAIN(TestRenderCommand)
#include "tst_render_command.moc"
