#include <QFile>
#include <QTest>

#include "ui/ctview.h"

class TestSmoke : public QObject
{
    Q_OBJECT
private slots:
    void translationIsEmbedded() { QVERIFY(QFile::exists(":/Oxa_ja_JP.qm")); }
    void windowBuilds()
    {
        CtView w;
        QCOMPARE(w.windowTitle(), QStringLiteral("ctView"));
    }
};

QTEST_MAIN(TestSmoke)
#include "tst_smoke.moc"
