#ifndef MESSAGENAMES_H
#define MESSAGENAMES_H

#include <QString>
#include <QStringList>

// File names in messages, for people: a message lists at most maxListedNames names
// (the caller adds "and N more"), and shows a name longer than maxNameChars
// characters as its start and its end around an ellipsis. A session naming
// millions of files, or one name of megabytes, so still gives a message that can
// be laid out and read. Plain functions, safe on any thread.
namespace messagenames {

constexpr qsizetype maxListedNames = 10;
constexpr qsizetype maxNameChars = 300;

// text with its middle replaced by "…" so that at most maxChars characters remain;
// shorter text as it is. Never splits a surrogate pair.
QString middleElided(const QString &text, qsizetype maxChars = maxNameChars);

// One name on one line (control characters and bytes that are not UTF-8 escaped,
// as the panel's file list shows them), middle-elided to maxNameChars.
QString shown(const QString &name);

// The first maxListedNames of names, each as shown() gives it.
QStringList listed(const QStringList &names);

}  // namespace messagenames

#endif
