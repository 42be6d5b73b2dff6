// Synchronisation primitives used across the library.
//
// Locks that code may re-enter while it logs are recursive mutexes; every
// holder takes them through std::lock_guard or std::unique_lock so that each
// path, exceptions included, releases them.
#pragma once

#include <mutex>

namespace vantrel::platform {

using RecursiveMutex = std::recursive_mutex;

}  // namespace vantrel::platform
