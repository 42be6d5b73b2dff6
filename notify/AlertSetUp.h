// What the SMS and mail handlers share around their set-up and sending: the
// accessor's run-once guard, the guarded reading of their settings, the ready
// flag cleared while an alert is sent, and the filter that lets alerts the
// settings drop return without waiting for the alert lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "notify/AlertLock.h"

namespace vantrel {

// Runs `read`, which reads a handler's settings, and returns true when it
// finished. When it throws, logs an error with severity 3 and returns false:
// "<reporter>() exception catch: <text>" for the exception a missing required
// key throws by pointer (which is deleted), "<reporter>() unknown exception
// catch." for anything else (an unreadable file, an illegal value).
bool ReadAlertSettings(const char* reporter, const std::function<void()>& read) noexcept;

// Clears a handler's ready flag while it sends an alert and sets it again
// afterwards, so that anything logged meanwhile on this thread (a failed
// send's warning) is not sent in turn.
class NotReadyWhileSending {
public:
    explicit NotReadyWhileSending(bool& bReady) noexcept : m_bReady(bReady) { m_bReady = false; }
    ~NotReadyWhileSending() { m_bReady = true; }
    NotReadyWhileSending(const NotReadyWhileSending&) = delete;
    NotReadyWhileSending& operator=(const NotReadyWhileSending&) = delete;

private:
    bool& m_bReady;
};

// Which alerts a handler's settings let through, published for threads that
// have not taken AlertLock(). A thread sending an alert holds the lock for as
// long as its channel takes; an alert that would not be sent anyway is
// dropped without waiting for it.
class AlertFilter {
public:
    // Until the next Publish, nothing is dropped here: callers take the lock
    // and the handler decides.
    void Unsettle() noexcept { m_bSettled.store(false); }
    // Drops everything from now on (the channel is gone).
    void Close() noexcept {
        m_bErrorsPass.store(false);
        m_bWarningsPass.store(false);
    }
    // `nThreshold` is compared unsigned: a negative one lets every code pass.
    void Publish(bool bErrors, int32_t nThreshold, bool bWarnings) noexcept {
        m_bErrorsPass.store(bErrors, std::memory_order_relaxed);
        m_nErrorsThreshold.store(static_cast<uint32_t>(nThreshold), std::memory_order_relaxed);
        m_bWarningsPass.store(bWarnings, std::memory_order_relaxed);
        m_bSettled.store(true, std::memory_order_release);
    }

    bool DropsError(uint32_t nCode) const noexcept {
        return m_bSettled.load(std::memory_order_acquire) &&
               (!m_bErrorsPass.load(std::memory_order_relaxed) ||
                nCode > m_nErrorsThreshold.load(std::memory_order_relaxed));
    }
    bool DropsWarning() const noexcept {
        return m_bSettled.load(std::memory_order_acquire) && !m_bWarningsPass.load(std::memory_order_relaxed);
    }
    bool DropsEverything() const noexcept {
        return m_bSettled.load(std::memory_order_acquire) && !m_bErrorsPass.load(std::memory_order_relaxed) &&
               !m_bWarningsPass.load(std::memory_order_relaxed);
    }

private:
    std::atomic<bool> m_bSettled{false};
    std::atomic<bool> m_bErrorsPass{false};
    std::atomic<uint32_t> m_nErrorsThreshold{999};
    std::atomic<bool> m_bWarningsPass{false};
};

// Runs `init` while `reinitialise` is set, then clears it. The flag is checked
// again under AlertLock(), so two threads logging their first alert at the
// same moment set the handler up once. When `init` throws, the flag stays set
// and the exception goes on; the next alert tries again, unless the failed
// set-up left `filter` dropping every alert: those pass without the lock,
// as dropped alerts always do.
template <typename Init>
void SetUpOnce(std::atomic<uint8_t>& reinitialise, const AlertFilter& filter, Init&& init) {
    if (reinitialise.load() == 0 || filter.DropsEverything()) {
        return;
    }
    std::lock_guard<platform::RecursiveMutex> guard(AlertLock());
    if (reinitialise.load() != 0) {
        init();
        reinitialise.store(0);
    }
}

}  // namespace vantrel

namespace vantrel {

// While a thread is in log-only mode, the warnings and errors it reports are
// written to the log and sent by no alert channel. The mail thread works in
// it: a server that fails makes it log every step, and the operator gets one
// alert per failed delivery, which it raises with the mode lifted. One thread
// at a time may be in the mode: the mail thread.
class LogOnlyAlerts {
public:
    explicit LogOnlyAlerts(bool bOn) noexcept;
    ~LogOnlyAlerts();
    LogOnlyAlerts(const LogOnlyAlerts&) = delete;
    LogOnlyAlerts& operator=(const LogOnlyAlerts&) = delete;

private:
    bool m_bWas;
};

bool AlertsAreLogOnly() noexcept;

}  // namespace vantrel
