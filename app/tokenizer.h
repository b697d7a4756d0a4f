#ifndef TOKENIZER_H
#define TOKENIZER_H

#include <QString>

// Cutting one configuration line into comment, blank test and items. Stateless;
// malformed quoting is logged through qDebug and never fails a call.

// The text before the first '#' outside quotes (apostrophe and double quote
// toggle one quoting flag); comment receives the text after that '#', and is
// left untouched when there is none.
QString splitComment(const QString &line, QString &comment);
QString stripComment(const QString &line);
// True when the text before the comment is empty after QString::simplified.
bool isBlankLine(const QString &line);
// Returns the rest of the line after its first item; item receives the item.
QString takeItem(const QString &line, QString &item);

#endif
