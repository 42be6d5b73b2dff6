#include "notify/AlertLock.h"

namespace vantrel {

platform::RecursiveMutex& AlertLock() {
    static platform::RecursiveMutex* const pLock = new platform::RecursiveMutex;
    return *pLock;
}

}  // namespace vantrel
