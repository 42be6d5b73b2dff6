#include "notify/AlertLock.h"

#include <new>

namespace vantrel {

platform::RecursiveMutex& AlertLock() {
    // In the library's own static storage and never destroyed, so that a
    // handler running during unload still finds it. Not on the heap: a heap
    // lock would be lost, never freed, each time a host unloads the library.
    alignas(platform::RecursiveMutex) static unsigned char storage[sizeof(platform::RecursiveMutex)];
    static platform::RecursiveMutex* const pLock = new (storage) platform::RecursiveMutex;
    return *pLock;
}

}  // namespace vantrel
