#ifndef SETSPACE_H
#define SETSPACE_H

#include <QHash>

#include <mutex>

#include "data/direction.h"

namespace skipReason {
inline constexpr const char *otherDirection =
    QT_TRANSLATE_NOOP("SlicesCtrl", "its axes point in other directions than another set's");
}  // namespace skipReason

// The sets drawn together in one space: a window's panels, or the sets of one
// oxa-render run. A set whose files state the direction of their axes may take its
// place only when that direction agrees with those of the other sets that state one,
// so that two volumes are never overlaid as if their axes were the same when they
// are not. Sets that state none (pictures, grids) take part in nothing here. Shared
// by the sets (through a shared pointer) and used from their loader threads.
class SetSpace
{
public:
    // True when set (any unique key, the set's address) may be drawn with direction d:
    // no other set holds a different one. The set then holds d until released. False,
    // with nothing changed, when another set's direction differs.
    bool claim(const void *set, const Direction &d);
    // The set holds no direction any more (it was emptied or is going).
    void release(const void *set);

private:
    std::mutex mutex_;
    QHash<const void *, Direction> held_;
};

#endif
