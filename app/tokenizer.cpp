#include "app/tokenizer.h"

#include <QDebug>

namespace {

// "\s" and "\S" of a regular expression without pattern options: white space is
// the six ASCII characters tab, line feed, vertical tab, form feed, carriage return
// and space; every other code unit is not. As with a regular expression, a line
// that is not valid UTF-16 (a lone surrogate) has no match at all.
bool isItemSpace(QChar c)
{
    const char16_t u = c.unicode();
    return u == u' ' || (u >= u'\t' && u <= u'\r');
}

// Index of the first code unit at or after from that is white space (space true)
// or is not (space false); -1 when there is none.
qsizetype indexOfSpace(const QString &line, qsizetype from, bool space)
{
    for (qsizetype i = from; i < line.size(); ++i)
        if (isItemSpace(line.at(i)) == space)
            return i;
    return -1;
}

const char *const notEndedByQuote = "In a line [%1] item is started from quote but not ended by quote";
const char *const notStartedByQuote = "In a line [%1] item is started from not quote but ended by quote";

// The logger shows the text in its quoted form.
void logQuoting(const char *message, const QString &line)
{
    qDebug() << QString::fromLatin1(message).arg(line);
}

}  // namespace

QString splitComment(const QString &lineIn, QString &comment)
{
    const QString line = lineIn;  // comment may be the very string passed as the line
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == u'\'' || c == u'"') {
            quoted = !quoted;
        } else if (c == u'#' && !quoted) {
            comment = line.mid(i + 1);
            return line.left(i);
        }
    }
    return line;
}

QString stripComment(const QString &line)
{
    QString comment;
    return splitComment(line, comment);
}

bool isBlankLine(const QString &line)
{
    return stripComment(line).simplified().isEmpty();
}

QString takeItem(const QString &lineIn, QString &item)
{
    const QString line = lineIn;  // item may be the very string passed as the line
    item.clear();
    if (line.isEmpty())
        return QString();

    const qsizetype g = line.isValidUtf16() ? indexOfSpace(line, 0, false) : -1;
    if (g < 0)
        return QString();

    if (line.at(g) == u'"') {
        const qsizetype q = line.indexOf(u'"', g + 1);
        if (q >= 0) {
            item = line.mid(g + 1, q - g - 1);
            return line.mid(q + 1);
        }
        logQuoting(notEndedByQuote, line);
        item = line.mid(g + 1);
        return QString();
    }

    const qsizetype w = indexOfSpace(line, g, true);
    if (w >= 0) {
        item = line.mid(g, w - g);
        if (line.at(w - 1) == u'"')
            logQuoting(notStartedByQuote, line);
        return line.mid(w);
    }
    item = line.mid(g);
    if (line.endsWith(u'"'))
        logQuoting(notStartedByQuote, line);
    return QString();
}
