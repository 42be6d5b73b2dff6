// The one lock of the alert handlers.
//
// The mail handler and the SMS handler both report through the log facade
// while they hold their lock (during set-up and while a Simple MAPI mail or an
// SMS is sent), and reporting reaches the other handler. With a lock each, two
// threads reporting at the same moment could take them in opposite orders and
// wait on each other for ever. Both handlers therefore serialise their set-up,
// release and notifications on this single re-entrant lock: a thread that
// holds it may log, come back into either handler and take it again, and two
// threads can never hold one handler each.
//
// Lock order: this lock, then the mail requests container's lock and the
// configuration store's lock; never the reverse. The file log's lock is
// always innermost.
#pragma once

#include "platform/Sync.h"

namespace vantrel {

// Never destroyed, so that a handler running during library unload still
// finds it.
platform::RecursiveMutex& AlertLock();

}  // namespace vantrel
