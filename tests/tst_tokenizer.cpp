#include <QStringList>
#include <QTest>

#include "app/tokenizer.h"
#include "startupfixtures.h"

namespace {

using fixtures::MessageLog;

const QString notEndedMsg =
    QStringLiteral("\"In a line [%1] item is started from quote but not ended by quote\"");
const QString notStartedMsg =
    QStringLiteral("\"In a line [%1] item is started from not quote but ended by quote\"");

} // namespace

class TestTokenizer : public QObject
{
    Q_OBJECT
private slots:
    void takeItem_data();
    void takeItem();
    void takeItemMessageEscapesQuotes();
    void takeItemWithLineAsItem();
    void splitComment_data();
    void splitComment();
    void stripComment();
    void isBlankLine_data();
    void isBlankLine();
};

void TestTokenizer::takeItem_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("rest");
    QTest::addColumn<QStringList>("messages");

    const QStringList none;
    QTest::newRow("empty line") << "" << "" << "" << none;
    QTest::newRow("spaces only") << "    " << "" << "" << none;
    QTest::newRow("ascii white space only") << " \t\v\f\r\n" << "" << "" << none;
    QTest::newRow("ideographic spaces are item characters")
        << QString::fromUtf8("\u3000\u3000") << QString::fromUtf8("\u3000\u3000") << "" << none;
    QTest::newRow("no-break space is an item character")
        << QString::fromUtf8("a\u00a0b c") << QString::fromUtf8("a\u00a0b") << " c" << none;
    QTest::newRow("ideographic space does not split")
        << QString::fromUtf8("key\u3000val rest") << QString::fromUtf8("key\u3000val") << " rest" << none;
    QTest::newRow("plain items") << "key value" << "key" << " value" << none;
    QTest::newRow("leading white space") << " \t key\tvalue x" << "key" << "\tvalue x" << none;
    QTest::newRow("single item") << "key" << "key" << "" << none;
    QTest::newRow("single item with leading space") << "   key" << "key" << "" << none;
    QTest::newRow("item before carriage return") << "a\rb" << "a" << "\rb" << none;
    QTest::newRow("quoted item with space") << "\"a b\" c" << "a b" << " c" << none;
    QTest::newRow("quoted item after space") << "  \"C:/My Data\"  x" << "C:/My Data" << "  x" << none;
    QTest::newRow("empty quotes") << "\"\" x" << "" << " x" << none;
    QTest::newRow("empty quotes at end") << "\"\"" << "" << "" << none;
    QTest::newRow("quote then letters") << "\"ab\"cd e" << "ab" << "cd e" << none;
    QTest::newRow("quoted hash and apostrophe") << "\"it's #1\" z" << "it's #1" << " z" << none;
    QTest::newRow("quote in the middle") << "a\"b c" << "a\"b" << " c" << none;
    QTest::newRow("apostrophes are plain") << "'a b'" << "'a" << " b'" << none;
    QTest::newRow("second item quoted") << "a \"b c\"" << "a" << " \"b c\"" << none;
    QTest::newRow("lone quote") << "\"" << "" << "" << QStringList{notEndedMsg.arg("\\\"")};
    QTest::newRow("unclosed quote") << "  \"ab c" << "ab c" << ""
                                    << QStringList{notEndedMsg.arg("  \\\"ab c")};
    QTest::newRow("ends in quote then text") << "ab\" c" << "ab\"" << " c"
                                             << QStringList{notStartedMsg.arg("ab\\\" c")};
    QTest::newRow("ends in quote at end of line") << " ab\"" << "ab\"" << ""
                                                  << QStringList{notStartedMsg.arg(" ab\\\"")};
    QTest::newRow("quote only at end of later item") << "ab cd\"" << "ab" << " cd\"" << none;
}

void TestTokenizer::takeItem()
{
    QFETCH(QString, line);
    QFETCH(QString, item);
    QFETCH(QString, rest);
    QFETCH(QStringList, messages);

    MessageLog log;
    QString gotItem = QStringLiteral("stale");
    const QString gotRest = ::takeItem(line, gotItem);
    QCOMPARE(gotItem, item);
    QCOMPARE(gotRest, rest);
    QCOMPARE(MessageLog::lines(), messages);
}

void TestTokenizer::takeItemMessageEscapesQuotes()
{
    // The logger shows the message quoted: inner quotes and backslashes escaped.
    MessageLog log;
    QString item;
    ::takeItem(QStringLiteral("\"C:\\dir"), item);
    QCOMPARE(item, QStringLiteral("C:\\dir"));
    QCOMPARE(MessageLog::lines(),
             QStringList{QStringLiteral(
                 "\"In a line [\\\"C:\\\\dir] item is started from quote but not ended by quote\"")});
}

void TestTokenizer::takeItemWithLineAsItem()
{
    QString s = QStringLiteral("first second third");
    const QString rest = ::takeItem(s, s);
    QCOMPARE(s, QStringLiteral("first"));
    QCOMPARE(rest, QStringLiteral(" second third"));
}

void TestTokenizer::splitComment_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("comment");

    QTest::newRow("no comment keeps old text") << "a b" << "a b" << "old";
    QTest::newRow("empty line") << "" << "" << "old";
    QTest::newRow("comment untrimmed") << "a b # c d " << "a b " << " c d ";
    QTest::newRow("hash first") << "#x" << "" << "x";
    QTest::newRow("hash last") << "a#" << "a" << "";
    QTest::newRow("first hash wins") << "a#b#c" << "a" << "b#c";
    QTest::newRow("hash inside double quotes") << "a \"#b\" # c" << "a \"#b\" " << " c";
    QTest::newRow("hash inside apostrophes") << "a '#b' #c" << "a '#b' " << "c";
    QTest::newRow("hash after lone apostrophe") << "x 'it # not a comment" << "x 'it # not a comment" << "old";
    QTest::newRow("hash after lone double quote") << "x \"it # no" << "x \"it # no" << "old";
    QTest::newRow("apostrophe closed by double quote") << "a 'b\" # c" << "a 'b\" " << " c";
    QTest::newRow("double quote closed by apostrophe") << "a \"b' #c" << "a \"b' " << "c";
    QTest::newRow("hash after matched pair") << "\"a\"#c" << "\"a\"" << "c";
    QTest::newRow("three quotes leave quoting on") << "'a' 'b #c" << "'a' 'b #c" << "old";
}

void TestTokenizer::splitComment()
{
    QFETCH(QString, line);
    QFETCH(QString, before);
    QFETCH(QString, comment);

    QString gotComment = QStringLiteral("old");
    QCOMPARE(::splitComment(line, gotComment), before);
    QCOMPARE(gotComment, comment);
}

void TestTokenizer::stripComment()
{
    QCOMPARE(::stripComment(QStringLiteral("key value # note")), QStringLiteral("key value "));
    QCOMPARE(::stripComment(QStringLiteral("key 'value # note")), QStringLiteral("key 'value # note"));
}

void TestTokenizer::isBlankLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("blank");

    QTest::newRow("empty") << "" << true;
    QTest::newRow("spaces and tabs") << "  \t \t" << true;
    QTest::newRow("ideographic spaces") << QString::fromUtf8("\u3000 \u3000") << true;
    QTest::newRow("no-break spaces") << QString::fromUtf8("\u00a0\u00a0") << true;
    QTest::newRow("comment only") << "# nothing here" << true;
    QTest::newRow("space then comment") << QString::fromUtf8("\u3000  # c") << true;
    QTest::newRow("text") << "a" << false;
    QTest::newRow("text before comment") << " a # c" << false;
    QTest::newRow("quoted hash is text") << "\"#\"" << false;
    QTest::newRow("apostrophe hides the hash") << "'# c" << false;
    QTest::newRow("empty quotes are text") << "\"\"" << false;
}

void TestTokenizer::isBlankLine()
{
    QFETCH(QString, line);
    QFETCH(bool, blank);
    QCOMPARE(::isBlankLine(line), blank);
}

QTEST_APPLESS_MAIN(TestTokenizer)
#include "tst_tokenizer.moc"
