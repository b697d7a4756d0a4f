#include <QCoreApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTranslator>

#include "app/startup.h"
#include "app/version.h"
#include "startupfixtures.h"
#include "ui/ctview.h"

using fixtures::Argv;

class TestVersion : public QObject
{
    Q_OBJECT
private slots:
    void versionRequested_data();
    void versionRequested();
    void programPrintsVersionWithoutDisplay();
    void aboutBoxShowsVersions();
};

void TestVersion::versionRequested_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("requested");

    QTest::newRow("alone") << QStringList{"--version"} << true;
    QTest::newRow("after slice files") << QStringList{"a.png", "b.png", "--version"} << true;
    QTest::newRow("among options") << QStringList{"-e", "--version", "-d", "x"} << true;
    QTest::newRow("where an option's value would be") << QStringList{"-d", "--version"} << true;
    QTest::newRow("no arguments") << QStringList{} << false;
    QTest::newRow("one dash") << QStringList{"-version"} << false;
    QTest::newRow("longer word") << QStringList{"--versions"} << false;
    QTest::newRow("upper case") << QStringList{"--VERSION"} << false;
    QTest::newRow("with a value glued on") << QStringList{"--version=1"} << false;
}

void TestVersion::versionRequested()
{
    QFETCH(QStringList, args);
    QFETCH(bool, requested);
    Argv a(QStringList{"Oxa"} + args);
    QCOMPARE(::versionRequested(a.argc(), a.argv()), requested);
}

// The program answers before it builds its application object: no display, no
// configuration file read, nothing but the line on standard output.
void TestVersion::programPrintsVersionWithoutDisplay()
{
    QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$")).match(oxaVersion()).hasMatch());

    QProcess proc;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    proc.setProcessEnvironment(env);
    proc.start(QStringLiteral(OXA_BINARY_DIR "/Oxa"), {QStringLiteral("-e"), QStringLiteral("--version")});
    QVERIFY(proc.waitForFinished(60000));
    QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(proc.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(proc.readAllStandardOutput()), QStringLiteral("Oxa %1\n").arg(oxaVersion()));
    QCOMPARE(proc.readAllStandardError(), QByteArray());
}

void TestVersion::aboutBoxShowsVersions()
{
    QTranslator translator;
    QVERIFY(loadJapaneseTranslation(translator, QCoreApplication::applicationDirPath()));
    QCoreApplication::installTranslator(&translator);
    {
        CtView w;
        QCOMPARE(w.about_->text(), QString::fromUtf8("バージョン情報"));
        QVERIFY(!w.aboutBox);
        w.about_->click();
        QVERIFY(w.aboutBox);
        QVERIFY(w.aboutBox->isVisible());
        QVERIFY(!w.aboutBox->isModal());
        QCOMPARE(w.aboutBox->windowTitle(), QString::fromUtf8("Oxa について"));
        const QString text = w.aboutBox->text();
        QVERIFY2(text.contains(QStringLiteral("Oxa ") + oxaVersion()), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Qt ") + QString::fromLatin1(qVersion())), qPrintable(text));
        QVERIFY2(text.contains(QString::fromUtf8("劣等一般公衆利用許諾書")), qPrintable(text));

        // A second press replaces the box rather than stacking another one.
        QMessageBox *first = w.aboutBox;
        w.about_->click();
        QVERIFY(w.aboutBox != first);
        QVERIFY(w.aboutBox->isVisible());
    }
    QCoreApplication::removeTranslator(&translator);
}

QTEST_MAIN(TestVersion)
#include "tst_version.moc"
