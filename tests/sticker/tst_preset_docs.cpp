#include "export/output_format.h"
#include "sticker/sticker_preset.h"

#include <QFile>
#include <QRegularExpression>
#include <QtTest>

// The README's table of presets and the manual's list of them are written
// for readers; the preset table is what the program does. They must say the
// same: every preset, in the table's order, with its label, formats and caps.
class TestPresetDocs : public QObject {
    Q_OBJECT

private slots:
    void readmeTableIsThePresetTable();
    void manualListsEveryPreset();
};

namespace {

QString sourceFile(const QString &path)
{
    QFile file(QStringLiteral(QUILLOW_SOURCE_DIR "/") + path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QStringList labelsOf(const StickerKind &kind)
{
    QStringList labels;
    for (const OutputFileFormat *format : kind.formats)
        labels << format->label.toString();
    return labels;
}

} // namespace

void TestPresetDocs::readmeTableIsThePresetTable()
{
    const QString readme = sourceFile(QStringLiteral("README.md"));
    QVERIFY(!readme.isEmpty());
    // | `name` | label | size | still / animated | cap |
    static const QRegularExpression row(
        QStringLiteral("^\\| `([a-z-]+)` \\| ([^|]+) \\| [^|]+ \\| ([^|]+) \\| ([^|]+) \\|$"),
        QRegularExpression::MultilineOption);
    QStringList names;
    for (auto match = row.globalMatch(readme); match.hasNext();) {
        const auto found = match.next();
        const QString name = found.captured(1);
        names << name;
        const StickerPreset *preset = stickerPresetNamed(name);
        QVERIFY2(preset, qPrintable(name));
        QCOMPARE(found.captured(2).trimmed(), preset->label);
        const QStringList formats = found.captured(3).split(QStringLiteral(" / "));
        QCOMPARE(formats.size(), 2);
        for (const QString &label : labelsOf(preset->still))
            QVERIFY2(formats[0].contains(label), qPrintable(name + QStringLiteral(": still ") + label));
        for (const QString &label : labelsOf(preset->animated))
            QVERIFY2(formats[1].contains(label), qPrintable(name + QStringLiteral(": animated ") + label));
        const QString cap = found.captured(4);
        // "as `wechat`" rows repeat another row's cap; the others state it.
        for (const ByteCap &kindCap : {preset->still.cap, preset->animated.cap})
            QVERIFY2(cap.contains(kindCap.text()), qPrintable(name + QStringLiteral(": ") + kindCap.text()));
    }
    QStringList table;
    for (const StickerPreset &preset : stickerPresets())
        table << preset.name;
    QCOMPARE(names, table);
}

void TestPresetDocs::manualListsEveryPreset()
{
    const QString manual = sourceFile(QStringLiteral("src/cli/quillow-render.1"));
    QVERIFY(!manual.isEmpty());
    static const QRegularExpression list(QStringLiteral("^\\\\fB\\\\-\\\\-preset\\\\fR (.*)$"),
                                         QRegularExpression::MultilineOption);
    const auto found = list.match(manual);
    QVERIFY(found.hasMatch());
    QStringList names = found.captured(1).split(QLatin1Char('|'));
    for (QString &name : names)
        name.remove(QStringLiteral("\\fB")).remove(QStringLiteral("\\fR"));
    QStringList table;
    for (const StickerPreset &preset : stickerPresets())
        table << preset.name;
    QCOMPARE(names, table);
}

QTEST_MAIN(TestPresetDocs)
#include "tst_preset_docs.moc"
