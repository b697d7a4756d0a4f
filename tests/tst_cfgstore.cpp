#include <QDir>
#include <QRegularExpression>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

#include <sys/stat.h>

#include "app/cfgstore.h"
#include "startupfixtures.h"

namespace {

using fixtures::Argv;
using fixtures::MessageLog;

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    f.write(bytes);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void checkUpperMirrorsExact(const CfgStore &s)
{
    QCOMPARE(s.exact.keys.size(), s.exact.vals.size());
    QCOMPARE(s.exact.keys.size(), s.exact.tails.size());
    QCOMPARE(s.exact.keys.size(), s.exact.comments.size());
    QCOMPARE(s.upper.keys.size(), s.upper.vals.size());
    QCOMPARE(s.upper.keys.size(), s.upper.tails.size());
    QCOMPARE(s.upper.keys.size(), s.upper.comments.size());
    QStringList upperKeys;
    for (const QString &k : s.exact.keys) {
        if (!upperKeys.contains(k.toUpper()))
            upperKeys.append(k.toUpper());
    }
    QCOMPARE(s.upper.keys, upperKeys);
}

const QString cantOpen = QStringLiteral("Can't open config file : ");
const QString notRegular = QStringLiteral("Can't open config file, not a regular file : ");

}  // namespace

class TestCfgStore : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void fileLines_data();
    void fileLines();
    void keyLetterCase();
    void badQuoteIsLoggedAndStored();
    void missingFile();
    void notARegularFile_data();
    void notARegularFile();
    void manyKeysKeepOrderAndLaterWins();

    void include_data();
    void include();
    void includeResolvesAgainstCurrentDir();
    void includeMissingGoesOn();
    void includeWithoutName();
    void includeSameFileTwiceInSequence();
    void selfInclude_data();
    void selfInclude();
    void mutualInclude();
    void nestingLimit();
    void doublingChainFinishes();
    void includedFileBudget();

    void overlongLineIsCut();
    void endlessDeviceIsBounded();

    void parseArgs_data();
    void parseArgs();
    void initPicksFileName_data();
    void initPicksFileName();

    void setKeepsFirstComment();
    void appendLine();
    void appendLineWithoutFile();

private:
    QString path(const QString &name) const { return tmp->filePath(name); }
    QTemporaryDir *tmp = nullptr;
    QString savedCwd;
};

void TestCfgStore::init()
{
    tmp = new QTemporaryDir;
    QVERIFY(tmp->isValid());
    savedCwd = QDir::currentPath();
    // INCLUDE targets and relative names are looked up in the current directory.
    QVERIFY(QDir::setCurrent(tmp->path()));
}

void TestCfgStore::cleanup()
{
    QDir::setCurrent(savedCwd);
    delete tmp;
    tmp = nullptr;
}

void TestCfgStore::fileLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("vals");
    QTest::addColumn<QStringList>("tails");

    QTest::newRow("key and value") << QByteArray("key value\n") << QStringList{"key"} << QStringList{"value"}
                                   << QStringList{" value"};
    QTest::newRow("key only") << QByteArray("lonely") << QStringList{"lonely"} << QStringList{""} << QStringList{""};
    QTest::newRow("extra items stay in the tail")
        << QByteArray("k v extra  more\n") << QStringList{"k"} << QStringList{"v"} << QStringList{" v extra  more"};
    QTest::newRow("quoted path with space and comment")
        << QByteArray("DataRoot \"/my data/ct\" # where the scans are\n") << QStringList{"DataRoot"}
        << QStringList{"/my data/ct"} << QStringList{" \"/my data/ct\" "};
    QTest::newRow("apostrophe hides hash") << QByteArray("x 'it # not a comment\n") << QStringList{"x"}
                                           << QStringList{"'it"} << QStringList{" 'it # not a comment"};
    QTest::newRow("quoted key") << QByteArray("\"my key\" v\n") << QStringList{"my key"} << QStringList{"v"}
                                << QStringList{" v"};
    QTest::newRow("leading white space") << QByteArray("  \tk v\n") << QStringList{"k"} << QStringList{"v"}
                                         << QStringList{" v"};
    QTest::newRow("blank and comment lines")
        << QByteArray("   \n\t\t\n\xe3\x80\x80\xe3\x80\x80\n# note\n  # indented note\n\n") << QStringList{}
        << QStringList{} << QStringList{};
    QTest::newRow("ideographic space is part of an item")
        << QByteArray("a\xe3\x80\x80"
                      "b c\n")
        << QStringList{QString::fromUtf8("a\u3000b")} << QStringList{"c"} << QStringList{" c"};
    QTest::newRow("later line wins, first order kept") << QByteArray("a 1\nb 2\na 3 x\n") << QStringList{"a", "b"}
                                                       << QStringList{"3", "2"} << QStringList{" 3 x", " 2"};
    QTest::newRow("crlf line ends") << QByteArray("a 1\r\nb 2\r\n") << QStringList{"a", "b"} << QStringList{"1", "2"}
                                    << QStringList{" 1", " 2"};
    QTest::newRow("no final line end") << QByteArray("a 1\nb 2") << QStringList{"a", "b"} << QStringList{"1", "2"}
                                       << QStringList{" 1", " 2"};
    QTest::newRow("utf-8 text") << QByteArray("\xe5\x90\x8d\xe5\x89\x8d \xe5\x80\xa4\n")
                                << QStringList{QString::fromUtf8("名前")} << QStringList{QString::fromUtf8("値")}
                                << QStringList{QString::fromUtf8(" 値")};
    QByteArray utf16("\xff\xfe", 2);
    for (char c : QByteArray("lang English\n")) {
        utf16.append(c);
        utf16.append('\0');
    }
    QTest::newRow("utf-16 with byte-order mark")
        << utf16 << QStringList{"lang"} << QStringList{"English"} << QStringList{" English"};
    QTest::newRow("option keys in a file") << QByteArray("-d /data\n-j\n") << QStringList{"-d", "-j"}
                                           << QStringList{"/data", ""} << QStringList{" /data", ""};
}

void TestCfgStore::fileLines()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, vals);
    QFETCH(QStringList, tails);

    writeFile(path("c.cfg"), content);
    CfgStore s;
    QVERIFY(s.readFile(path("c.cfg")));
    QCOMPARE(s.cfgFile, path("c.cfg"));
    QCOMPARE(s.exact.keys, keys);
    QCOMPARE(s.exact.vals, vals);
    QCOMPARE(s.exact.tails, tails);
    for (const QString &c : s.exact.comments)
        QVERIFY(c.isEmpty());
    checkUpperMirrorsExact(s);
}

void TestCfgStore::keyLetterCase()
{
    writeFile(path("c.cfg"), "Lang English\nLANG Japanese\n");
    CfgStore s;
    QVERIFY(s.readFile(path("c.cfg")));
    QCOMPARE(s.get("lang", "def"), QStringLiteral("Japanese"));
    QCOMPARE(s.getExact("Lang", "def"), QStringLiteral("English"));
    QCOMPARE(s.getExact("LANG", "def"), QStringLiteral("Japanese"));
    QCOMPARE(s.getExact("lang", "def"), QStringLiteral("def"));
    QVERIFY(s.hasKey("lAnG"));
    QVERIFY(!s.hasExactKey("lang"));
    QCOMPARE(s.upper.keys, QStringList{"LANG"});
    QCOMPARE(s.upper.tails, QStringList{" Japanese"});
    QCOMPARE(s.exact.keys.size(), 2);
}

void TestCfgStore::badQuoteIsLoggedAndStored()
{
    writeFile(path("c.cfg"), "k \"open value\n");
    CfgStore s;
    MessageLog log;
    QVERIFY(s.readFile(path("c.cfg")));
    QCOMPARE(MessageLog::lines(),
             QStringList{"\"In a line [ \\\"open value] item is started from quote but not ended by quote\""});
    QCOMPARE(s.getExact("k", "def"), QStringLiteral("open value"));
}

void TestCfgStore::missingFile()
{
    CfgStore s;
    s.set("kept", "1", "", "");
    MessageLog log;
    QVERIFY(!s.readFile("nothing.cfg"));
    QCOMPARE(MessageLog::lines(), QStringList{cantOpen + " \"nothing.cfg\""});
    QVERIFY(s.cfgFile.isEmpty());
    QCOMPARE(s.get("kept", ""), QStringLiteral("1"));
}

void TestCfgStore::notARegularFile_data()
{
    QTest::addColumn<QString>("special");
    QTest::addColumn<bool>("included");
    // A named pipe without a writer would block the open for ever, a device never ends.
    for (bool included : {false, true}) {
        const char *how = included ? "INCLUDE of " : "reading ";
        QTest::newRow(qPrintable(how + QStringLiteral("a directory"))) << "sub" << included;
        QTest::newRow(qPrintable(how + QStringLiteral("a named pipe"))) << "pipe" << included;
        QTest::newRow(qPrintable(how + QStringLiteral("a link to a named pipe"))) << "pipelink" << included;
        QTest::newRow(qPrintable(how + QStringLiteral("a device"))) << "/dev/zero" << included;
    }
}

void TestCfgStore::notARegularFile()
{
    QFETCH(QString, special);
    QFETCH(bool, included);
    QVERIFY(QDir(tmp->path()).mkdir("sub"));
    QCOMPARE(::mkfifo(QFile::encodeName(path("pipe")).constData(), 0600), 0);
    QVERIFY(QFile::link(path("pipe"), path("pipelink")));
    writeFile(path("main.cfg"), QStringLiteral("a 1\ninclude %1\nb 2\n").arg(special).toUtf8());
    CfgStore s;
    MessageLog log;
    if (included) {
        QVERIFY(s.readFile("main.cfg"));
        QCOMPARE(s.exact.keys, (QStringList{"a", "b"}));
    } else {
        QVERIFY(!s.readFile(special));
        QVERIFY(s.exact.keys.isEmpty());
    }
    QCOMPARE(MessageLog::lines(), QStringList{notRegular + " \"" + special + "\""});
    QVERIFY(s.cfgFile.isEmpty());
}

void TestCfgStore::manyKeysKeepOrderAndLaterWins()
{
    // Enough keys that a lookup by position would be slow, with repeats in every
    // letter case spread through the file and through an included file.
    QByteArray main;
    QByteArray extra;
    QStringList exactKeys;  // the k keys in the order they first come
    for (int i = 0; i < 3000; i += 3)
        extra += "k" + QByteArray::number(i) + " x" + QByteArray::number(i) + " tail\n";
    for (int i = 0; i < 3000; ++i) {
        main += "k" + QByteArray::number(i) + " m" + QByteArray::number(i) + "\n";
        exactKeys << QStringLiteral("k%1").arg(i);
        if (i % 7 == 0)
            main += "K" + QByteArray::number(i / 2) + " upper" + QByteArray::number(i) + "\n";
        if (i == 1500) {
            main += "include extra.cfg\n";
            for (int j = 1503; j < 3000; j += 3)
                exactKeys << QStringLiteral("k%1").arg(j);
        }
    }
    exactKeys.removeDuplicates();
    writeFile(path("main.cfg"), main);
    writeFile(path("extra.cfg"), extra);
    CfgStore s;
    QVERIFY(s.readFile("main.cfg"));
    checkUpperMirrorsExact(s);
    // Exact keys in first-insertion order: the k keys, with each K key where it first came.
    QCOMPARE(s.exact.keys.mid(0, 2), (QStringList{"k0", "K0"}));
    QCOMPARE(s.exact.keys.filter(QRegularExpression("^k")), exactKeys);
    // Later lines win, in the file's order: k3 is set by its line, then as K3 (upper7),
    // then again by the included file; k2997 by the included file, then by its own line.
    QCOMPARE(s.getExact("k3", ""), QStringLiteral("x3"));
    QCOMPARE(s.getExact("K3", ""), QStringLiteral("upper7"));
    QCOMPARE(s.get("k3", ""), QStringLiteral("x3"));
    QCOMPARE(s.get("k7", ""), QStringLiteral("upper14"));
    QCOMPARE(s.getExact("k7", ""), QStringLiteral("m7"));
    QCOMPARE(s.get("K2997", ""), QStringLiteral("m2997"));
    QCOMPARE(s.get("k1498", ""), QStringLiteral("upper2996"));
    QVERIFY(!s.hasExactKey("K2"));
    QVERIFY(s.hasKey("K2"));
}

void TestCfgStore::include_data()
{
    QTest::addColumn<QString>("includeWord");
    QTest::newRow("upper case") << "INCLUDE";
    QTest::newRow("lower case") << "include";
    QTest::newRow("mixed case") << "iNcLuDe";
}

void TestCfgStore::include()
{
    QFETCH(QString, includeWord);
    const QString mainText = QStringLiteral("a 1\nb 1\n%1 extra.cfg # more settings\nb 2\n").arg(includeWord);
    writeFile(path("main.cfg"), mainText.toUtf8());
    writeFile(path("extra.cfg"), "c 9\nb 9\na 9\nd 9\n");
    CfgStore s;
    QVERIFY(s.readFile("main.cfg"));
    // Included entries stand where the INCLUDE line stood; no entry for the line itself.
    QCOMPARE(s.exact.keys, (QStringList{"a", "b", "c", "d"}));
    QCOMPARE(s.exact.vals, (QStringList{"9", "2", "9", "9"}));
    QVERIFY(!s.hasKey("include"));
    QCOMPARE(s.cfgFile, QStringLiteral("extra.cfg"));
}

void TestCfgStore::includeResolvesAgainstCurrentDir()
{
    QVERIFY(QDir(tmp->path()).mkdir("sub"));
    writeFile(path("sub/main.cfg"), "include extra.cfg\n");
    writeFile(path("sub/extra.cfg"), "where sub\n");
    writeFile(path("extra.cfg"), "where top\n");
    CfgStore s;
    QVERIFY(s.readFile("sub/main.cfg"));
    QCOMPARE(s.get("where", ""), QStringLiteral("top"));
}

void TestCfgStore::includeMissingGoesOn()
{
    writeFile(path("main.cfg"), "a 1\ninclude gone.cfg\nb 2\n");
    CfgStore s;
    MessageLog log;
    QVERIFY(s.readFile("main.cfg"));
    QCOMPARE(MessageLog::lines(), QStringList{cantOpen + " \"gone.cfg\""});
    QCOMPARE(s.exact.keys, (QStringList{"a", "b"}));
    QVERIFY(s.cfgFile.isEmpty());
}

void TestCfgStore::includeWithoutName()
{
    writeFile(path("main.cfg"), "INCLUDE\nb 2\n");
    CfgStore s;
    MessageLog log;
    QVERIFY(s.readFile("main.cfg"));
    QCOMPARE(MessageLog::lines(), QStringList{cantOpen + " \"\""});
    QCOMPARE(s.get("b", ""), QStringLiteral("2"));
}

void TestCfgStore::includeSameFileTwiceInSequence()
{
    // Reading a file twice one after the other is no cycle.
    writeFile(path("main.cfg"), "include b.cfg\nx 5\ninclude b.cfg\n");
    writeFile(path("b.cfg"), "x 1\n");
    CfgStore s;
    MessageLog log;
    QVERIFY(s.readFile("main.cfg"));
    QCOMPARE(s.get("x", ""), QStringLiteral("1"));
    QVERIFY(MessageLog::lines().isEmpty());
}

void TestCfgStore::selfInclude_data()
{
    QTest::addColumn<QString>("selfName");
    QTest::newRow("same name") << "self.cfg";
    QTest::newRow("dotted path") << "./sub/../self.cfg";
    QTest::newRow("through a link") << "link.cfg";
}

void TestCfgStore::selfInclude()
{
    QFETCH(QString, selfName);
    QVERIFY(QDir(tmp->path()).mkdir("sub"));
    QVERIFY(QFile::link(path("self.cfg"), path("link.cfg")));
    writeFile(path("self.cfg"), QStringLiteral("x 1\ninclude %1\ny 2\n").arg(selfName).toUtf8());
    CfgStore s;
    MessageLog log;
    QVERIFY(s.readFile("self.cfg"));
    QCOMPARE(s.exact.keys, (QStringList{"x", "y"}));
    QCOMPARE(MessageLog::lines().size(), 1);
}

void TestCfgStore::mutualInclude()
{
    writeFile(path("a.cfg"), "a 1\ninclude b.cfg\nafter_b 1\n");
    writeFile(path("b.cfg"), "b 1\ninclude a.cfg\nafter_a 1\n");
    CfgStore s;
    MessageLog log;
    QVERIFY(s.readFile("a.cfg"));
    QCOMPARE(s.exact.keys, (QStringList{"a", "b", "after_a", "after_b"}));
    QCOMPARE(MessageLog::lines().size(), 1);
}

void TestCfgStore::nestingLimit()
{
    // f0 includes f1, ... f39: the top file and CfgStore::maxIncludeDepth levels below it are read.
    const int files = 40;
    for (int i = 0; i < files; ++i)
        writeFile(path(QStringLiteral("f%1.cfg").arg(i)),
                  QStringLiteral("level%1 x\ninclude f%2.cfg\n").arg(i).arg(i + 1).toUtf8());
    CfgStore s;
    MessageLog log;
    QVERIFY(s.readFile("f0.cfg"));
    QVERIFY(s.hasKey(QStringLiteral("level%1").arg(CfgStore::maxIncludeDepth)));
    QVERIFY(!s.hasKey(QStringLiteral("level%1").arg(CfgStore::maxIncludeDepth + 1)));
    QCOMPARE(MessageLog::lines().size(), 1);
}

void TestCfgStore::doublingChainFinishes()
{
    // Each file includes the next one twice, thirty levels deep: without a budget that
    // would be 2^30 reads.
    const int files = 30;
    for (int i = 0; i < files; ++i)
        writeFile(path(QStringLiteral("f%1.cfg").arg(i)),
                  QStringLiteral("level%1 x\ninclude f%2.cfg\ninclude f%2.cfg\n").arg(i).arg(i + 1).toUtf8());
    CfgStore s;
    MessageLog log;
    QVERIFY(s.readFile("f0.cfg"));
    QVERIFY(s.hasKey(QStringLiteral("level%1").arg(CfgStore::maxIncludeDepth)));
    QVERIFY(!s.hasKey(QStringLiteral("level%1").arg(CfgStore::maxIncludeDepth + 1)));
    // Every refusal is one line, and the budget ends the reading: at most two
    // INCLUDE lines are met per file read.
    QVERIFY(!MessageLog::lines().isEmpty());
    QVERIFY(MessageLog::lines().size() <= 2 * (CfgStore::maxIncludedFiles + 1));
    QCOMPARE(MessageLog::count(cantOpen), 0);
}

void TestCfgStore::includedFileBudget()
{
    const int files = CfgStore::maxIncludedFiles + 20;
    QByteArray top;
    for (int i = 0; i < files; ++i) {
        writeFile(path(QStringLiteral("i%1.cfg").arg(i)), QStringLiteral("file%1 x\n").arg(i).toUtf8());
        top += QStringLiteral("include i%1.cfg\n").arg(i).toUtf8();
    }
    top += "last 1\n";
    writeFile(path("top.cfg"), top);
    CfgStore s;
    MessageLog log;
    QVERIFY(s.readFile("top.cfg"));
    QVERIFY(s.hasKey(QStringLiteral("file%1").arg(CfgStore::maxIncludedFiles - 1)));
    QVERIFY(!s.hasKey(QStringLiteral("file%1").arg(CfgStore::maxIncludedFiles)));
    QVERIFY(s.hasKey("last"));
    QCOMPARE(MessageLog::lines().size(), 20);

    // The budget belongs to one top-level call.
    writeFile(path("again.cfg"), QStringLiteral("include i%1.cfg\n").arg(files - 1).toUtf8());
    QVERIFY(s.readFile("again.cfg"));
    QVERIFY(s.hasKey(QStringLiteral("file%1").arg(files - 1)));
}

void TestCfgStore::overlongLineIsCut()
{
    QByteArray content("k ");
    content += QByteArray(2 * CfgStore::maxLineChars, 'x');
    content += "\nnext 1\n";
    writeFile(path("long.cfg"), content);
    CfgStore s;
    MessageLog log;
    QVERIFY(s.readFile("long.cfg"));
    QCOMPARE(s.get("k", "").size(), CfgStore::maxLineChars - 2);
    QCOMPARE(s.get("next", ""), QStringLiteral("1"));
    QCOMPARE(MessageLog::lines().size(), 1);

    // A line of exactly the limit is whole.
    QByteArray exact("e ");
    exact += QByteArray(CfgStore::maxLineChars - 2, 'y');
    exact += "\nafter 2\n";
    writeFile(path("exact.cfg"), exact);
    CfgStore t;
    MessageLog log2;
    QVERIFY(t.readFile("exact.cfg"));
    QCOMPARE(t.get("e", "").size(), CfgStore::maxLineChars - 2);
    QCOMPARE(t.get("after", ""), QStringLiteral("2"));
    QVERIFY(MessageLog::lines().isEmpty());
}

void TestCfgStore::endlessDeviceIsBounded()
{
    if (!QFile::exists("/dev/zero"))
        QSKIP("no /dev/zero here");
    writeFile(path("main.cfg"), "a 1\ninclude /dev/zero\nb 2\n");
    CfgStore s;
    MessageLog log;
    QVERIFY(s.readFile("main.cfg"));
    QCOMPARE(s.get("b", ""), QStringLiteral("2"));
}

void TestCfgStore::parseArgs_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("vals");
    QTest::addColumn<QStringList>("tails");

    QTest::newRow("program only") << QStringList{"/usr/bin/Oxa"} << QStringList{} << QStringList{} << QStringList{};
    QTest::newRow("option with value and tail")
        << QStringList{"Oxa", "-c", "a", "b"} << QStringList{"-c"} << QStringList{"a"} << QStringList{"a b"};
    QTest::newRow("option followed by option")
        << QStringList{"Oxa", "-d", "-x"} << QStringList{"-d", "-x"} << QStringList{"", ""} << QStringList{"", ""};
    QTest::newRow("stray words before options")
        << QStringList{"Oxa", "one", "two", "-e"} << QStringList{"-e"} << QStringList{""} << QStringList{""};
    QTest::newRow("dash alone and double dash") << QStringList{"Oxa", "-", "x", "--y", "z"} << QStringList{"-", "--y"}
                                                << QStringList{"x", "z"} << QStringList{"x", "z"};
    QTest::newRow("empty argument is no option")
        << QStringList{"Oxa", "", "-e", "", "v"} << QStringList{"-e"} << QStringList{""} << QStringList{" v"};
    QTest::newRow("repeated option, later wins")
        << QStringList{"Oxa", "-c", "a", "-c", "b", "c"} << QStringList{"-c"} << QStringList{"b"} << QStringList{"b c"};
    QTest::newRow("letter case gives two exact keys")
        << QStringList{"Oxa", "-C", "x", "-c", "y"} << QStringList{"-C", "-c"} << QStringList{"x", "y"}
        << QStringList{"x", "y"};
    QTest::newRow("utf-8 value") << QStringList{"Oxa", "-d", QString::fromUtf8("/データ/ct")} << QStringList{"-d"}
                                 << QStringList{QString::fromUtf8("/データ/ct")}
                                 << QStringList{QString::fromUtf8("/データ/ct")};
}

void TestCfgStore::parseArgs()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, vals);
    QFETCH(QStringList, tails);

    Argv a(args);
    CfgStore s;
    s.parseArgs(a.argc(), a.argv());
    QCOMPARE(s.exact.keys, keys);
    QCOMPARE(s.exact.vals, vals);
    QCOMPARE(s.exact.tails, tails);
    checkUpperMirrorsExact(s);
}

void TestCfgStore::initPicksFileName_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("readNow");
    QTest::addColumn<QString>("readFrom");

    QTest::newRow("default file") << QStringList{"Oxa"} << true << "config.cfg";
    QTest::newRow("-c") << QStringList{"Oxa", "-c", "a.cfg"} << true << "a.cfg";
    QTest::newRow("-C") << QStringList{"Oxa", "-C", "a.cfg"} << true << "a.cfg";
    QTest::newRow("-config wins over -c") << QStringList{"Oxa", "-config", "b.cfg", "-c", "a.cfg"} << true << "b.cfg";
    QTest::newRow("-c without value reads nothing") << QStringList{"Oxa", "-c"} << true << "";
    QTest::newRow("readNow false reads nothing") << QStringList{"Oxa", "-c", "a.cfg"} << false << "";
}

void TestCfgStore::initPicksFileName()
{
    QFETCH(QStringList, args);
    QFETCH(bool, readNow);
    QFETCH(QString, readFrom);

    for (const char *name : {"config.cfg", "a.cfg", "b.cfg"})
        writeFile(path(name), QByteArray("from ") + name + '\n');
    Argv a(args);
    CfgStore s;
    s.init(a.argc(), a.argv(), readNow, "config.cfg", {"-c", "-config"});
    QCOMPARE(s.get("from", ""), readFrom);
    QCOMPARE(s.cfgFile, readFrom);
}

void TestCfgStore::setKeepsFirstComment()
{
    CfgStore s;
    s.set("Key", "1", "1 t", "first");
    s.set("Key", "2", "2 t", "second");
    s.set("KEY", "3", "3 t", "third");
    QCOMPARE(s.exact.keys, (QStringList{"Key", "KEY"}));
    QCOMPARE(s.exact.vals, (QStringList{"2", "3"}));
    QCOMPARE(s.exact.comments, (QStringList{"first", "third"}));
    QCOMPARE(s.upper.vals, QStringList{"3"});
    QCOMPARE(s.upper.tails, QStringList{"3 t"});
    QCOMPARE(s.upper.comments, QStringList{"first"});
}

void TestCfgStore::appendLine()
{
    writeFile(path("c.cfg"), "a 1\n");
    CfgStore s;
    QVERIFY(s.readFile("c.cfg"));
    s.appendLine("b", "2", "2 more", "added");
    QCOMPARE(s.get("b", ""), QStringLiteral("2"));
    QCOMPARE(readAll(path("c.cfg")), QByteArray("a 1\nb\t2 2 more\t # added\n"));

    // The written line reads back as the same entry; its comment is dropped by the reader.
    CfgStore t;
    QVERIFY(t.readFile("c.cfg"));
    QCOMPARE(t.getExact("b", ""), QStringLiteral("2"));
    QCOMPARE(t.exact.tails.last(), QStringLiteral("\t2 2 more\t "));
}

void TestCfgStore::appendLineWithoutFile()
{
    CfgStore s;
    s.appendLine("k", "v", "", "");
    QCOMPARE(s.get("k", ""), QStringLiteral("v"));
    QVERIFY(QDir(tmp->path()).entryList(QDir::Files).isEmpty());

    s.cfgFile = path("no/such/dir/c.cfg");
    s.appendLine("k2", "v2", "", "");
    QCOMPARE(s.get("k2", ""), QStringLiteral("v2"));
    QVERIFY(!QFile::exists(s.cfgFile));
}

QTEST_APPLESS_MAIN(TestCfgStore)
#include "tst_cfgstore.moc"
