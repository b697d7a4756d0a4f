#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

#include "app/tokenizer.h"
#include "startupfixtures.h"

namespace {

using fixtures::MessageLog;

const QString notEndedMsg = QStringLiteral("\"In a line [%1] item is started from quote but not ended by quote\"");
const QString notStartedMsg = QStringLiteral("\"In a line [%1] item is started from not quote but ended by quote\"");

}  // namespace

class TestTokenizer : public QObject
{
    Q_OBJECT
private slots:
    void takeItem_data();
    void takeItem();
    void takeItemMessageEscapesQuotes();
    void takeItemWithLineAsItem();
    void takeItemWhiteSpaceAsPattern_data();
    void takeItemWhiteSpaceAsPattern();
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
    QTest::newRow("empty line") << ""
                                << ""
                                << "" << none;
    QTest::newRow("spaces only") << "    "
                                 << ""
                                 << "" << none;
    QTest::newRow("ascii white space only") << " \t\v\f\r\n"
                                            << ""
                                            << "" << none;
    QTest::newRow("ideographic spaces are item characters")
        << QString::fromUtf8("\u3000\u3000") << QString::fromUtf8("\u3000\u3000") << "" << none;
    QTest::newRow("no-break space is an item character")
        << QString::fromUtf8("a\u00a0b c") << QString::fromUtf8("a\u00a0b") << " c" << none;
    QTest::newRow("ideographic space does not split")
        << QString::fromUtf8("key\u3000val rest") << QString::fromUtf8("key\u3000val") << " rest" << none;
    QTest::newRow("plain items") << "key value"
                                 << "key"
                                 << " value" << none;
    QTest::newRow("leading white space") << " \t key\tvalue x"
                                         << "key"
                                         << "\tvalue x" << none;
    QTest::newRow("single item") << "key"
                                 << "key"
                                 << "" << none;
    QTest::newRow("single item with leading space") << "   key"
                                                    << "key"
                                                    << "" << none;
    QTest::newRow("item before carriage return") << "a\rb"
                                                 << "a"
                                                 << "\rb" << none;
    QTest::newRow("quoted item with space") << "\"a b\" c"
                                            << "a b"
                                            << " c" << none;
    QTest::newRow("quoted item after space") << "  \"C:/My Data\"  x"
                                             << "C:/My Data"
                                             << "  x" << none;
    QTest::newRow("empty quotes") << "\"\" x"
                                  << ""
                                  << " x" << none;
    QTest::newRow("empty quotes at end") << "\"\""
                                         << ""
                                         << "" << none;
    QTest::newRow("quote then letters") << "\"ab\"cd e"
                                        << "ab"
                                        << "cd e" << none;
    QTest::newRow("quoted hash and apostrophe") << "\"it's #1\" z"
                                                << "it's #1"
                                                << " z" << none;
    QTest::newRow("quote in the middle") << "a\"b c"
                                         << "a\"b"
                                         << " c" << none;
    QTest::newRow("apostrophes are plain") << "'a b'"
                                           << "'a"
                                           << " b'" << none;
    QTest::newRow("second item quoted") << "a \"b c\""
                                        << "a"
                                        << " \"b c\"" << none;
    QTest::newRow("lone quote") << "\""
                                << ""
                                << "" << QStringList{notEndedMsg.arg("\\\"")};
    QTest::newRow("unclosed quote") << "  \"ab c"
                                    << "ab c"
                                    << "" << QStringList{notEndedMsg.arg("  \\\"ab c")};
    QTest::newRow("ends in quote then text") << "ab\" c"
                                             << "ab\""
                                             << " c" << QStringList{notStartedMsg.arg("ab\\\" c")};
    QTest::newRow("ends in quote at end of line") << " ab\""
                                                  << "ab\""
                                                  << "" << QStringList{notStartedMsg.arg(" ab\\\"")};
    QTest::newRow("quote only at end of later item") << "ab cd\""
                                                     << "ab"
                                                     << " cd\"" << none;
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
    QCOMPARE(
        MessageLog::lines(),
        QStringList{QStringLiteral("\"In a line [\\\"C:\\\\dir] item is started from quote but not ended by quote\"")});
}

void TestTokenizer::takeItemWithLineAsItem()
{
    QString s = QStringLiteral("first second third");
    const QString rest = ::takeItem(s, s);
    QCOMPARE(s, QStringLiteral("first"));
    QCOMPARE(rest, QStringLiteral(" second third"));
}

namespace {

// The item rule written with the regular expressions "\\s" and "\\S" (no options),
// the way the rule is defined; takeItem must give the same item, rest and messages.
QString takeItemByPattern(const QString &line, QString &item, QStringList &messages)
{
    static const QRegularExpression space(QStringLiteral("\\s"));
    static const QRegularExpression nonSpace(QStringLiteral("\\S"));
    const QString notEnded = QStringLiteral("In a line [%1] item is started from quote but not ended by quote");
    const QString notStarted = QStringLiteral("In a line [%1] item is started from not quote but ended by quote");
    item.clear();
    const qsizetype g = line.indexOf(nonSpace, 0);
    if (line.isEmpty() || g < 0)
        return QString();
    if (line.at(g) == u'"') {
        const qsizetype q = line.indexOf(u'"', g + 1);
        if (q >= 0) {
            item = line.mid(g + 1, q - g - 1);
            return line.mid(q + 1);
        }
        messages << notEnded.arg(line);
        item = line.mid(g + 1);
        return QString();
    }
    const qsizetype w = line.indexOf(space, g);
    if (w >= 0) {
        item = line.mid(g, w - g);
        if (line.at(w - 1) == u'"')
            messages << notStarted.arg(line);
        return line.mid(w);
    }
    item = line.mid(g);
    if (line.endsWith(u'"'))
        messages << notStarted.arg(line);
    return QString();
}

// The message text as the logger writes it (quoted, with escapes).
QString logged(const QString &message)
{
    QString out;
    QDebug(&out) << message;
    return out.trimmed();
}

}  // namespace

void TestTokenizer::takeItemWhiteSpaceAsPattern_data()
{
    QTest::addColumn<QStringList>("lines");

    // Every code unit, alone, between spaces and between items.
    QStringList single, between, inside;
    for (uint u = 0; u <= 0xffff; ++u) {
        const QChar ch = QChar(char16_t(u));
        single << QString(ch);
        between << QStringLiteral("  ") + ch + QStringLiteral("  x");
        inside << QStringLiteral("a") + ch + QStringLiteral("b\"");
    }
    QTest::newRow("every code unit alone") << single;
    QTest::newRow("every code unit between blanks") << between;
    QTest::newRow("every code unit inside an item") << inside;

    // Random lines over the characters that matter: the six white-space characters,
    // other control and Unicode spaces, quotes, letters, surrogate halves and pairs.
    const char16_t alphabet[] = {u' ',   u'\t',  u'\n',  0x0b, 0x0c,  u'\r', 0x1c, 0x1f, 0x85,   0xa0,
                                 0x2000, 0x3000, 0xfeff, u'"', u'\'', u'#',  u'a', u'Z', 0xd83d, 0xde00};
    QRandomGenerator rng(20261207);
    QStringList random;
    for (int n = 0; n < 20000; ++n) {
        QString line;
        const int len = int(rng.bounded(12));
        for (int i = 0; i < len; ++i)
            line += QChar(alphabet[rng.bounded(int(sizeof alphabet / sizeof *alphabet))]);
        random << line;
    }
    QTest::newRow("random lines") << random;
}

void TestTokenizer::takeItemWhiteSpaceAsPattern()
{
    QFETCH(QStringList, lines);
    for (const QString &line : std::as_const(lines)) {
        QStringList expectedMessages;
        QString expectedItem;
        const QString expectedRest = takeItemByPattern(line, expectedItem, expectedMessages);
        for (QString &m : expectedMessages)
            m = logged(m);

        MessageLog log;
        QString item = QStringLiteral("stale");
        const QString rest = ::takeItem(line, item);
        QString where = QStringLiteral("code units:");
        for (QChar c : line)
            where += QStringLiteral(" %1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        QVERIFY2(item == expectedItem, qPrintable(where));
        QVERIFY2(rest == expectedRest, qPrintable(where));
        QVERIFY2(MessageLog::lines() == expectedMessages, qPrintable(where));
    }
}

void TestTokenizer::splitComment_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("comment");

    QTest::newRow("no comment keeps old text") << "a b"
                                               << "a b"
                                               << "old";
    QTest::newRow("empty line") << ""
                                << ""
                                << "old";
    QTest::newRow("comment untrimmed") << "a b # c d "
                                       << "a b "
                                       << " c d ";
    QTest::newRow("hash first") << "#x"
                                << ""
                                << "x";
    QTest::newRow("hash last") << "a#"
                               << "a"
                               << "";
    QTest::newRow("first hash wins") << "a#b#c"
                                     << "a"
                                     << "b#c";
    QTest::newRow("hash inside double quotes") << "a \"#b\" # c"
                                               << "a \"#b\" "
                                               << " c";
    QTest::newRow("hash inside apostrophes") << "a '#b' #c"
                                             << "a '#b' "
                                             << "c";
    QTest::newRow("hash after lone apostrophe") << "x 'it # not a comment"
                                                << "x 'it # not a comment"
                                                << "old";
    QTest::newRow("hash after lone double quote") << "x \"it # no"
                                                  << "x \"it # no"
                                                  << "old";
    QTest::newRow("apostrophe closed by double quote") << "a 'b\" # c"
                                                       << "a 'b\" "
                                                       << " c";
    QTest::newRow("double quote closed by apostrophe") << "a \"b' #c"
                                                       << "a \"b' "
                                                       << "c";
    QTest::newRow("hash after matched pair") << "\"a\"#c"
                                             << "\"a\""
                                             << "c";
    QTest::newRow("three quotes leave quoting on") << "'a' 'b #c"
                                                   << "'a' 'b #c"
                                                   << "old";
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
