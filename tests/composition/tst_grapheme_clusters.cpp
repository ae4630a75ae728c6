#include "composition/grapheme_clusters.h"

#include <QtTest>

class TestGraphemeClusters : public QObject {
    Q_OBJECT
private slots:
    void wholeClustersWithin_data();
    void wholeClustersWithin();
};

void TestGraphemeClusters::wholeClustersWithin_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("length");
    QTest::newRow("shorter text is whole") << QStringLiteral("我们") << 10 << 2;
    QTest::newRow("cut between Chinese characters") << QStringLiteral("一二三四五六七八九十百") << 10 << 10;
    QTest::newRow("cut would split a surrogate pair") << QStringLiteral("一二三四五六七八九😀") << 10 << 9;
    QTest::newRow("cut after an emoji, before its modifier")
        << QStringLiteral("一二三四五六七👍🏽") << 9 << 7;
    QTest::newRow("cut inside a family") << QStringLiteral("好👨\u200D👩\u200D👧") << 6 << 1;
    QTest::newRow("cut between a flag's letters") << QStringLiteral("🇨🇳🇨🇳") << 6 << 4;
    QTest::newRow("cut before a combining mark") << QStringLiteral("Cafe\u0301") << 4 << 3;
    QTest::newRow("cut right after a whole cluster") << QStringLiteral("Cafe\u0301!") << 5 << 5;
    QTest::newRow("a lone half can be cut after") << QString(QChar(0xD83D)) + QStringLiteral("我") << 1 << 1;
    QTest::newRow("no room at all") << QStringLiteral("我") << 0 << 0;
    QTest::newRow("negative limit") << QStringLiteral("我") << -1 << 0;
}

void TestGraphemeClusters::wholeClustersWithin()
{
    QFETCH(QString, text);
    QFETCH(int, limit);
    QFETCH(int, length);
    QCOMPARE(int(::wholeClustersWithin(text, limit)), length);
}

QTEST_GUILESS_MAIN(TestGraphemeClusters)
#include "tst_grapheme_clusters.moc"
