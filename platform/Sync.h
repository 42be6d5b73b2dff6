// Synchronisation primitives used across the library.
//
// Locks that code may re-enter while it logs are recursive mutexes; every
// holder takes them through std::lock_guard or std::unique_lock so that each
// path, exceptions included, releases them.
//
// Both platforms use the C++ run-time's primitives. On Windows MinGW-w64's
// posix thread model builds them on Win32 (winpthreads, linked into the DLL):
// a RecursiveMutex is re-entrant for its owner like an unnamed Win32 mutex or
// a critical section, and WatchedValue plays the manual-reset event.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vantrel::platform {

using RecursiveMutex = std::recursive_mutex;

// A value that one thread changes and others wait on: a mutex, a condition
// variable and the value. Waiters are woken on every change, so a wait never
// polls. Every set() also advances a version, so a waiter can wait for "the
// next change" and never miss a value that was set and changed again before
// it woke.
template <typename T>
class WatchedValue {
public:
    explicit WatchedValue(T initial) : m_value(initial) {}

    void set(T value) {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_value = value;
            ++m_nVersion;
        }
        m_changed.notify_all();
    }

    // set() and the version it produced, as one step.
    unsigned long long setAndVersion(T value) {
        unsigned long long nVersion;
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_value = value;
            nVersion = ++m_nVersion;
        }
        m_changed.notify_all();
        return nVersion;
    }

    // Waits until some set() after the one that produced `nVersion`.
    void waitForChangeAfter(unsigned long long nVersion) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_nVersion > nVersion; });
    }

    T get() const {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_value;
    }

    // Waits until the value equals `wanted`.
    void waitFor(T wanted) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_value == wanted; });
    }

    // Waits at most `timeout`; true when the value equals `wanted`.
    template <typename Rep, typename Period>
    bool waitFor(T wanted, std::chrono::duration<Rep, Period> timeout) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_value == wanted; });
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    T m_value;
    unsigned long long m_nVersion = 0;
};

// A manual-reset event: Set() leaves it signalled, waking every waiter, until
// Reset().
class ManualResetEvent {
public:
    void Set() {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_bSignalled = true;
        }
        m_changed.notify_all();
    }

    void Reset() {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_bSignalled = false;
    }

    // Waits until the event is signalled, at most `timeoutMs` (-1: no bound).
    // True when it is signalled.
    bool Wait(int timeoutMs) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (timeoutMs < 0) {
            m_changed.wait(lock, [&] { return m_bSignalled; });
            return true;
        }
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_bSignalled; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bSignalled = false;
};

}  // namespace vantrel::platform
