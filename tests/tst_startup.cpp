#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <vector>

#include "app/cfgstore.h"
#include "app/startup.h"
#include "startupfixtures.h"
#include "ui/ctview.h"
#include "ui/slicesctrl.h"

namespace {

using fixtures::Argv;
using fixtures::MessageLog;

// A store filled as start-up fills it: the command line first, then the file.
void fillStore(CfgStore &store, const QStringList &args, const QByteArray &fileText)
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Argv a(QStringList{"Oxa"} + args);
    store.init(a.argc(), a.argv(), false, defaultConfigFileName(), configFileOptions());
    if (!fileText.isNull()) {
        QFile f(dir.filePath("config.cfg"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(fileText);
        f.close();
        QVERIFY(store.readFile(f.fileName()));
    }
}

const QString japaneseSizeHelp = QString::fromUtf8(
    "生成する画像のピクセルサイズ。最初は 256 程度の小さな値にしておき、諸条件(観察方向、断面位置、描画値の閾値等)"
    "が決まった時点で、高解像度の画像にするため 1024 程度の値にするのが良い。");
const QString japaneseOpacityHelp = QString::fromUtf8(
    "<html><head/><body><p>描画対象の透明さ/不透明さの度合い</p><p>255 : 完全に不透明(背後にあるものは全く見えません)"
    "</p><p>0 : 完全に透明(描画対象自身が全く見えなくなります)</p></body></html>");

}  // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void configFileName_data();
    void configFileName();
    void dataRoot_data();
    void dataRoot();
    void language_data();
    void language();
    void programBaseName_data();
    void programBaseName();
    void logLinesQuoteStrings();

    void embeddedTranslation_data();
    void embeddedTranslation();
    void formsUseTranslatedTexts();
    void closingWindowEndsEventLoop();

    void programLog_data();
    void programLog();
};

void TestStartup::configFileName_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("name");

    QTest::newRow("default") << QStringList{} << "config.cfg";
    QTest::newRow("-c") << QStringList{"-c", "other.cfg"} << "other.cfg";
    QTest::newRow("-C upper case") << QStringList{"-C", "other.cfg"} << "other.cfg";
    QTest::newRow("-config") << QStringList{"-config", "b.cfg"} << "b.cfg";
    QTest::newRow("-CONFIG upper case") << QStringList{"-CONFIG", "b.cfg"} << "b.cfg";
    QTest::newRow("-config wins after -c") << QStringList{"-c", "a.cfg", "-config", "b.cfg"} << "b.cfg";
    QTest::newRow("-config wins before -c") << QStringList{"-config", "b.cfg", "-c", "a.cfg"} << "b.cfg";
    QTest::newRow("-c without value") << QStringList{"-c"} << "";
    QTest::newRow("-c followed by option") << QStringList{"-c", "-e"} << "";
    QTest::newRow("other options ignored") << QStringList{"-d", "x", "-cc", "y"} << "config.cfg";
}

void TestStartup::configFileName()
{
    QFETCH(QStringList, args);
    QFETCH(QString, name);
    CfgStore store;
    fillStore(store, args, QByteArray());
    QCOMPARE(::configFileName(store), name);
}

void TestStartup::dataRoot_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("fileText");
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("logged");

    const QString app = QStringLiteral("/opt/oxa");
    QTest::newRow("default") << QStringList{} << QByteArray() << app << "aa";
    QTest::newRow("DataRoot entry") << QStringList{} << QByteArray("DataRoot /scans\n") << "/scans"
                                    << "/scans";
    QTest::newRow("quoted DataRoot with space")
        << QStringList{} << QByteArray("DataRoot \"/my scans\" # here\n") << "/my scans"
        << "/my scans";
    QTest::newRow("relative DataRoot kept as written") << QStringList{} << QByteArray("DataRoot ../x\n") << "../x"
                                                       << "../x";
    QTest::newRow("DATAROOT is another key") << QStringList{} << QByteArray("DATAROOT /x\n") << app << "aa";
    QTest::newRow("-d wins over DataRoot") << QStringList{"-d", "/arg"} << QByteArray("DataRoot /file\n") << "/arg"
                                           << "/file";
    QTest::newRow("-d first value only") << QStringList{"-d", "dirA", "dirB"} << QByteArray() << "dirA"
                                         << "aa";
    QTest::newRow("-d without value") << QStringList{"-d", "-e"} << QByteArray() << ""
                                      << "aa";
    QTest::newRow("-D is not -d") << QStringList{"-D", "/x"} << QByteArray() << app << "aa";
    QTest::newRow("file -d beats option -d") << QStringList{"-d", "/arg"} << QByteArray("-d /file\n") << "/file"
                                             << "aa";
    QTest::newRow("DataRoot without value") << QStringList{} << QByteArray("DataRoot\n") << ""
                                            << "";
}

void TestStartup::dataRoot()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, fileText);
    QFETCH(QString, root);
    QFETCH(QString, logged);
    CfgStore store;
    fillStore(store, args, fileText);
    QCOMPARE(dataRootFor(store, QStringLiteral("/opt/oxa")), root);
    QCOMPARE(dataRootLogValue(store), logged);
}

void TestStartup::language_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("fileText");
    QTest::addColumn<QString>("baseName");
    QTest::addColumn<bool>("japanese");

    const QByteArray noFile;
    QTest::newRow("default is Japanese") << QStringList{} << noFile << "Oxa" << true;
    QTest::newRow("lang English") << QStringList{} << QByteArray("lang English\n") << "Oxa" << false;
    QTest::newRow("lang english") << QStringList{} << QByteArray("lang english\n") << "Oxa" << false;
    QTest::newRow("LANG ENGLISH") << QStringList{} << QByteArray("LANG ENGLISH\n") << "Oxa" << false;
    QTest::newRow("lang quoted English with comment")
        << QStringList{} << QByteArray("lang \"English\" # ui\n") << "Oxa" << false;
    QTest::newRow("lang Japanese") << QStringList{} << QByteArray("lang Japanese\n") << "Oxa" << true;
    QTest::newRow("lang French") << QStringList{} << QByteArray("lang French\n") << "Oxa" << true;
    QTest::newRow("lang Englishman") << QStringList{} << QByteArray("lang Englishman\n") << "Oxa" << true;
    QTest::newRow("bare lang") << QStringList{} << QByteArray("lang\n") << "Oxa" << true;
    QTest::newRow("-e") << QStringList{"-e"} << noFile << "Oxa" << false;
    QTest::newRow("-j") << QStringList{"-j"} << QByteArray("lang English\n") << "Oxa" << true;
    QTest::newRow("-e -j") << QStringList{"-e", "-j"} << noFile << "Oxa" << true;
    QTest::newRow("-j -e") << QStringList{"-j", "-e"} << noFile << "Oxa" << true;
    QTest::newRow("-E is unknown") << QStringList{"-E"} << noFile << "Oxa" << true;
    const QByteArray english("lang English\n");
    QTest::newRow("-E leaves lang English") << QStringList{"-E"} << english << "Oxa" << false;
    QTest::newRow("-J leaves lang English") << QStringList{"-J"} << english << "Oxa" << false;
    QTest::newRow("file line -j") << QStringList{} << QByteArray("lang English\n-j\n") << "Oxa" << true;
    QTest::newRow("file line -e") << QStringList{} << QByteArray("-e\n") << "Oxa" << false;
    QTest::newRow("Oxae") << QStringList{} << noFile << "Oxae" << false;
    QTest::newRow("Oxae beats lang Japanese") << QStringList{} << QByteArray("lang Japanese\n") << "Oxae" << false;
    QTest::newRow("Oxae with -j") << QStringList{"-j"} << noFile << "Oxae" << true;
    QTest::newRow("Oxaj beats lang English") << QStringList{} << QByteArray("lang English\n") << "Oxaj" << true;
    QTest::newRow("Oxaj with -e") << QStringList{"-e"} << noFile << "Oxaj" << false;
    QTest::newRow("Oxaex has no effect") << QStringList{} << noFile << "Oxaex" << true;
    QTest::newRow("Oxaex keeps lang English") << QStringList{} << QByteArray("lang English\n") << "Oxaex" << false;
    QTest::newRow("oxae has no effect") << QStringList{} << noFile << "oxae" << true;
    QTest::newRow("OxaE has no effect") << QStringList{} << noFile << "OxaE" << true;
    QTest::newRow("Oxaq keeps lang English") << QStringList{} << QByteArray("lang English\n") << "Oxaq" << false;
    QTest::newRow("empty name") << QStringList{} << noFile << "" << true;
}

void TestStartup::language()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, fileText);
    QFETCH(QString, baseName);
    QFETCH(bool, japanese);
    CfgStore store;
    fillStore(store, args, fileText);
    QCOMPARE(chooseJapanese(store, baseName), japanese);
}

void TestStartup::programBaseName_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("baseName");

    QTest::newRow("full path") << QStringList{"/usr/local/bin/Oxae"} << "Oxae";
    QTest::newRow("relative path") << QStringList{"./Oxaj", "-e"} << "Oxaj";
    QTest::newRow("extension dropped") << QStringList{"Oxae.exe"} << "Oxae";
    QTest::newRow("everything from the first dot") << QStringList{"/a.b/Oxa.e.x"} << "Oxa";
    QTest::newRow("utf-8 name") << QStringList{QString::fromUtf8("/tmp/表示")} << QString::fromUtf8("表示");
    QTest::newRow("empty argument") << QStringList{""} << "";
    QTest::newRow("no arguments") << QStringList{} << "";
}

void TestStartup::programBaseName()
{
    QFETCH(QStringList, args);
    QFETCH(QString, baseName);
    Argv a(args);
    QCOMPARE(::programBaseName(a.argc(), a.argv()), baseName);
}

void TestStartup::logLinesQuoteStrings()
{
    MessageLog log;
    logReadResult(true, QStringLiteral("config.cfg"));
    logReadResult(false, QStringLiteral("a \"b\\c.cfg"));
    logDataRoot(QStringLiteral("/data"), QStringLiteral("aa"));
    QCOMPARE(MessageLog::lines(),
             (QStringList{"read Ok true \"config.cfg\"", "read Ok false \"a \\\"b\\\\c.cfg\"",
                          "data root \"/data\" \"aa\""}));
}

void TestStartup::embeddedTranslation_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("japanese");

    QTest::newRow("Save Image") << "CtView"
                                << "Save Image" << QString::fromUtf8("画像保存");
    QTest::newRow("tool tip with line feed")
        << "CtView"
        << "Supported File Types are : %1\n and also SVG."
        << QString::fromUtf8("<html><head/><body><p>下記の拡張子のファイルに加えて SVG ファイルが利用可能です</p>"
                             "<p>%1</p></body></html>");
    QTest::newRow("Show Setup") << "SlicesCtrl"
                                << "Show Setup %1" << QString::fromUtf8("設定%1表示");
    QTest::newRow("trailing space kept") << "SlicesCtrl"
                                         << "Color Scale: " << QString::fromUtf8("色スケール");
    QTest::newRow("untranslated Load Slices") << "SlicesCtrl"
                                              << "Load Slices"
                                              << "Load Slices";
    QTest::newRow("LoadSlices Select") << "LoadSlices"
                                       << "Select" << QString::fromUtf8("選択");
    QTest::newRow("not in the table") << "SlicesCtrl"
                                      << "Data Files (*.dat *.png)"
                                      << "";
}

void TestStartup::embeddedTranslation()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, japanese);

    QTranslator translator;
    QVERIFY(loadJapaneseTranslation(translator, QCoreApplication::applicationDirPath()));
    QCOMPARE(translator.language(), QStringLiteral("ja_JP"));
    QCOMPARE(translator.translate(context.toUtf8().constData(), source.toUtf8().constData()), japanese);
}

void TestStartup::formsUseTranslatedTexts()
{
    // The source texts of the translation must be the forms' texts to the letter.
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/Oxa_ja_JP.qm")));
    QVERIFY(QCoreApplication::installTranslator(&translator));
    {
        CtView w(QString(), nullptr);
        QCOMPARE(w.saveImage_->text(), QString::fromUtf8("画像保存"));
        QCOMPARE(w.addSliceSet_->text(), QString::fromUtf8("スライスセット追加"));
        QCOMPARE(w.linkCSection_->text(), QString::fromUtf8("断面連動"));
        QCOMPARE(w.label->text(), QString::fromUtf8("生成画像サイズ"));
        QCOMPARE(w.imgPixWidth_->whatsThis(), japaneseSizeHelp);
        QVERIFY2(w.saveImage_->toolTip().startsWith(QString::fromUtf8("<html><head/><body><p>下記の")),
                 qPrintable(w.saveImage_->toolTip()));
        QVERIFY(!w.sCtrls.isEmpty());
        SlicesCtrl *panel = w.sCtrls.first();
        QCOMPARE(panel->label_8->text(), QString::fromUtf8("α"));
        QCOMPARE(panel->label_8->whatsThis(), japaneseOpacityHelp);
        QCOMPARE(panel->csFixDir_->text(), QString::fromUtf8("断面方向固定"));
        QCOMPARE(panel->showVolume_->text(), QString::fromUtf8("体積表示"));
        QCOMPARE(panel->label_7->text(), QString::fromUtf8("色スケール"));
    }
    QCoreApplication::removeTranslator(&translator);
}

void TestStartup::closingWindowEndsEventLoop()
{
    CtView w(QString(), nullptr);
    QWidget otherWindow;
    otherWindow.show();
    w.show();

    QEventLoop loop;
    QObject::connect(&w, &CtView::finishing, &loop, &QEventLoop::quit);
    QSignalSpy finishing(&w, &CtView::finishing);
    QTimer::singleShot(0, &w, [&w] { w.close(); });
    // Only a guard against hanging forever; the close normally ends the loop at once.
    QTimer::singleShot(60000, &loop, [&loop] { loop.exit(1); });
    QCOMPARE(loop.exec(), 0);
    QCOMPARE(finishing.count(), 1);
    QVERIFY(!w.isVisible());
    QVERIFY(otherWindow.isVisible());
}

void TestStartup::programLog_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("files");  // name, content, name, content, ...
    QTest::addColumn<bool>("startElsewhere");
    QTest::addColumn<QStringList>("expected");  // %APP% stands for the program's directory

    const QStringList noArgs;
    const QStringList noFiles;
    QTest::newRow("no configuration file") << noArgs << noFiles << false
                                           << QStringList{"Can't open config file :  \"config.cfg\"",
                                                          "read Ok false \"config.cfg\"", "data root \"%APP%\" \"aa\""};
    QTest::newRow("started from another directory")
        << noArgs << noFiles << true
        << QStringList{"Can't open config file :  \"config.cfg\"", "read Ok false \"config.cfg\"",
                       "data root \"%APP%\" \"aa\""};
    QTest::newRow("config.cfg beside the program")
        << noArgs << QStringList{"config.cfg", "DataRoot \"/scans/my data\" # ct\n"} << true
        << QStringList{"read Ok true \"config.cfg\"", "data root \"/scans/my data\" \"/scans/my data\""};
    QTest::newRow("-C names the file") << QStringList{"-C", "other.cfg"} << QStringList{"other.cfg", "DataRoot /o\n"}
                                       << false << QStringList{"read Ok true \"other.cfg\"", "data root \"/o\" \"/o\""};
    QTest::newRow("-config wins over -c")
        << QStringList{"-c", "a.cfg", "-config", "b.cfg"} << QStringList{"a.cfg", "DataRoot /a\n"} << false
        << QStringList{"Can't open config file :  \"b.cfg\"", "read Ok false \"b.cfg\"", "data root \"%APP%\" \"aa\""};
    QTest::newRow("-d wins over DataRoot")
        << QStringList{"-d", "/x"} << QStringList{"config.cfg", "DataRoot /y\n"} << false
        << QStringList{"read Ok true \"config.cfg\"", "data root \"/x\" \"/y\""};
    QTest::newRow("DATAROOT is not DataRoot")
        << noArgs << QStringList{"config.cfg", "DATAROOT /z\n"} << false
        << QStringList{"read Ok true \"config.cfg\"", "data root \"%APP%\" \"aa\""};
    QTest::newRow("file line -c changes nothing")
        << noArgs << QStringList{"config.cfg", "-c other.cfg\n"} << false
        << QStringList{"read Ok true \"config.cfg\"", "data root \"%APP%\" \"aa\""};
    QTest::newRow("-d without value") << QStringList{"-d", "-e"} << noFiles << false
                                      << QStringList{"Can't open config file :  \"config.cfg\"",
                                                     "read Ok false \"config.cfg\"", "data root \"\" \"aa\""};
    QTest::newRow("include beside the program")
        << noArgs << QStringList{"config.cfg", "include extra.cfg\n", "extra.cfg", "DataRoot a\"b\n"} << false
        << QStringList{"read Ok true \"config.cfg\"", "data root \"a\\\"b\" \"a\\\"b\""};
}

void TestStartup::programLog()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, files);
    QFETCH(bool, startElsewhere);
    QFETCH(QStringList, expected);

    const QString built = QStringLiteral(OXA_BINARY_DIR "/Oxa");
    QVERIFY2(QFileInfo(built).isExecutable(), "build the Oxa target first");

    // A copy of the program in a folder of its own, so its configuration file is ours.
    QTemporaryDir appDir;
    QTemporaryDir otherDir;
    QVERIFY(appDir.isValid() && otherDir.isValid());
    const QString exe = appDir.filePath("Oxa");
    QVERIFY(QFile::copy(built, exe));
    QVERIFY(QFile::setPermissions(exe, QFile::permissions(built) | QFileDevice::ExeOwner));
    for (int i = 0; i + 1 < files.size(); i += 2) {
        QFile f(appDir.filePath(files.at(i)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(files.at(i + 1).toUtf8());
    }
    {
        // A configuration file where the program is started from must not be read.
        QFile f(otherDir.filePath("config.cfg"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("DataRoot /wrong\n");
    }

    QProcess proc;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QT_LOGGING_RULES", "default.debug=true");
    env.remove("QT_MESSAGE_PATTERN");
    proc.setProcessEnvironment(env);
    proc.setWorkingDirectory(startElsewhere ? otherDir.path() : QDir::tempPath());
    proc.setReadChannel(QProcess::StandardError);
    proc.start(exe, args);
    QVERIFY2(proc.waitForStarted(), qPrintable(proc.errorString()));

    QByteArray err;
    QElapsedTimer guard;
    guard.start();
    while (!err.contains("data root") && proc.state() == QProcess::Running && guard.elapsed() < 60000) {
        proc.waitForReadyRead(1000);
        err += proc.readAllStandardError();
    }
    proc.kill();
    proc.waitForFinished();
    err += proc.readAllStandardError();

    QStringList logged;
    for (const QString &line : QString::fromUtf8(err).split(u'\n')) {
        for (const char *start : {"Can't open config file", "read Ok", "data root"}) {
            if (line.startsWith(QLatin1String(start)))
                logged.append(line);
        }
    }
    const QString app = QFileInfo(appDir.path()).canonicalFilePath();
    for (QString &e : expected)
        e.replace(QStringLiteral("%APP%"), app);
    QCOMPARE(logged, expected);
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
