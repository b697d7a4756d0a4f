#include "app/tokenizer.h"

#include <QDebug>
#include <QRegularExpression>

namespace {

// "\s" and "\S" without pattern options: the ASCII white-space characters only.
const QRegularExpression &spaceRe()
{
    static const QRegularExpression re(QStringLiteral("\\s"));
    return re;
}

const QRegularExpression &nonSpaceRe()
{
    static const QRegularExpression re(QStringLiteral("\\S"));
    return re;
}

const char *const notEndedByQuote = "In a line [%1] item is started from quote but not ended by quote";
const char *const notStartedByQuote = "In a line [%1] item is started from not quote but ended by quote";

// The logger shows the text in its quoted form.
void logQuoting(const char *message, const QString &line)
{
    qDebug() << QString::fromLatin1(message).arg(line);
}

} // namespace

QString splitComment(const QString &lineIn, QString &comment)
{
    const QString line = lineIn; // comment may be the very string passed as the line
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
    const QString line = lineIn; // item may be the very string passed as the line
    item.clear();
    if (line.isEmpty())
        return QString();

    const qsizetype g = line.indexOf(nonSpaceRe(), 0);
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

    const qsizetype w = line.indexOf(spaceRe(), g);
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
