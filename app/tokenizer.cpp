#include "app/tokenizer.h"

QString splitComment(const QString &line, QString &comment)
{
    Q_UNUSED(comment);
    return line;
}

QString stripComment(const QString &line)
{
    QString c;
    return splitComment(line, c);
}

bool isBlankLine(const QString &line)
{
    return stripComment(line).simplified().isEmpty();
}

QString takeItem(const QString &line, QString &item)
{
    item = line;
    return QString();
}
