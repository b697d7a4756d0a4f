#include "app/messagenames.h"

#include <algorithm>

#include "data/nativename.h"

namespace messagenames {

QString middleElided(const QString &text, qsizetype maxChars)
{
    if (text.size() <= maxChars)
        return text;
    const QChar ellipsis(0x2026);
    qsizetype head = std::max<qsizetype>((maxChars - 1) / 2, 0);
    qsizetype tail = std::max<qsizetype>(maxChars - 1 - head, 0);
    if (head > 0 && text.at(head - 1).isHighSurrogate())
        --head;
    if (tail > 0 && text.at(text.size() - tail).isLowSurrogate())
        --tail;
    return text.left(head) + ellipsis + text.right(tail);
}

QString shown(const QString &name)
{
    // A name far longer than is shown is cut first, so a name of megabytes costs little.
    const QString cut = name.size() > 4 * maxNameChars ? middleElided(name, 4 * maxNameChars) : name;
    return middleElided(nativename::displayName(cut));
}

QStringList listed(const QStringList &names)
{
    QStringList out;
    for (qsizetype i = 0; i < names.size() && i < maxListedNames; ++i)
        out.append(shown(names.at(i)));
    return out;
}

}  // namespace messagenames
