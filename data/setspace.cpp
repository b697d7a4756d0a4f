#include "data/setspace.h"

bool SetSpace::claim(const void *set, const Direction &d)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = held_.cbegin(); it != held_.cend(); ++it)
        if (it.key() != set && !it.value().sameAs(d))
            return false;
    held_.insert(set, d);
    return true;
}

void SetSpace::release(const void *set)
{
    std::lock_guard<std::mutex> lock(mutex_);
    held_.remove(set);
}
