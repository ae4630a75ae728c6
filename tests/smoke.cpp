#include <QtTest>
class Smoke : public QObject { Q_OBJECT private slots: void builds() { QVERIFY(true); } };
QTEST_MAIN(Smoke)
#include "smoke.moc"
