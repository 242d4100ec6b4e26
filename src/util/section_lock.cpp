#include "util/section_lock.h"

SectionLock::SectionLock(int spinCount) : spinCount_(spinCount > 0 ? spinCount : 0)
{}

void SectionLock::enter()
{
    for (int i = 0; i < spinCount_; ++i) {
        if (mutex_.try_lock())
            return;
    }
    mutex_.lock();
}

void SectionLock::leave()
{
    mutex_.unlock();
}

bool SectionLock::tryEnter()
{
    return mutex_.try_lock();
}
