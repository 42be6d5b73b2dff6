// The library's own threads (the quotes thread, and later the mail thread).
//
// On Linux a LibraryThread is a std::thread. On Windows it is a Win32 thread
// that holds a reference on the library's module for as long as it runs and
// drops it as it exits (FreeLibraryAndExitThread): a FreeLibrary by the host
// can then never unmap code that the thread is still running. The DLL is
// really unloaded only once its last thread has ended.
#pragma once

#include <functional>

#if !defined(_WIN32)
#include <pthread.h>
#endif

namespace vantrel::platform {

class LibraryThread {
public:
#if defined(_WIN32)
    using NativeHandle = void*;  // the thread's HANDLE
#else
    using NativeHandle = pthread_t;
#endif

    LibraryThread() = default;
    // A thread still joinable here is detached, never waited for.
    ~LibraryThread();
    LibraryThread(const LibraryThread&) = delete;
    LibraryThread& operator=(const LibraryThread&) = delete;

    // Starts `body` on a new thread (default stack size). False when the
    // thread could not be started. The previous thread must have been joined
    // or detached.
    bool Start(std::function<void()> body) noexcept;
    bool Joinable() const noexcept;
    // True when called on this thread itself.
    bool IsCurrent() const noexcept;
    // Waits until the thread has ended; nothing when it is not joinable or
    // is the calling thread.
    void Join() noexcept;
    // Lets the thread run on without a handle to it.
    void Detach() noexcept;
    // Whether the thread is still running: not yet ended by itself or by the
    // system (which ends every other thread when a Windows process exits).
    bool Running() const noexcept;
    // The system's handle of the thread (for its CPU clock); only while
    // joinable.
    NativeHandle Handle() const noexcept;

private:
    struct Native;
    Native* m_pNative = nullptr;
};

// Whether the library's unload may wait for its threads to end. True on
// Linux, where unload stops and joins them. False on Windows, where unload
// runs under the loader lock that an ending thread needs, so waiting there
// would deadlock; there a library thread keeps the module loaded instead (see
// LibraryThread), so no thread can be running library code at unload, except
// at process exit, when Windows has already ended every other thread.
bool MayJoinThreadsAtUnload() noexcept;

}  // namespace vantrel::platform
