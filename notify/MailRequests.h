// Mails queued for the SMTP client and the mail thread that sends them, so
// that no logging thread ever waits on the network.
//
// A logging thread builds a CMailRequest and adds it to the process-wide
// container; the mail thread takes the requests out in order and sends each
// over its connection, trying once more when the failure may pass.
//
// The mail thread keeps the connection of its last mail open for the next
// one, and closes it with QUIT after SMTPTimeouts::idleQuitMs without a mail,
// when its last other user gives it back, and when the library unloads (then
// within SMTPTimeouts::quitAtUnloadMs for the send and as much for the
// reply). Its own warnings go to the log only (LogOnlyAlerts), except the one
// warning per failed delivery that says why the mail did not go: a server
// that is down costs the operator one alert per lost mail, not one per step.
//
// The mail thread lives as long as the library: it is started once, by
// LaunchMailRequestsThread, and stopped when the library is unloaded
// (dlclose or process exit). Every wait of the thread, on the queue and on
// the network, is cut short by the stop request, so it ends within
// milliseconds; unload waits for it up to kMailThreadStopBoundMs, and
// beyond that still waits for it, because a thread left running in unloaded
// code would crash the host. Mails still queued then are dropped with one
// event saying how many.
//
// On Windows unload never waits for a thread (it runs under the loader lock,
// which an ending thread needs): the mail thread is a LibraryThread, which
// keeps the DLL loaded while it runs. Once mail alerts go through the SMTP
// client, a FreeLibrary therefore leaves the DLL loaded, and it is unloaded
// at process exit, after Windows has ended the thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "notify/SMTPConnection.h"
#include "platform/Socket.h"
#include "platform/Sync.h"
#include "platform/Thread.h"

namespace vantrel {

// One mail waiting to be sent.
class CMailRequest {
public:
    // Builds the mail (the sender and each recipient as a bare address, the
    // subject, the body, the attachment when a path is given) and sends it,
    // connecting first when the connection is closed or the server has
    // closed it while idle. A failure that may pass (a 4xx reply, a failed
    // connection, send or receive) is tried once more, over a new
    // connection; a refusal (5xx) is not, nor a mail whose end was sent but
    // not answered (it may have been delivered: sending it again could
    // deliver it twice). A mail that fails is dropped with the warning
    // "Failed to send the SMTP message: " or "Failed to connect to the SMTP
    // server: " followed by the reason; the steps before it are logged too.
    // A request with a connection test runs the test instead.
    bool SendMail();

    // Run on the mail thread in place of a mail: the mail handler's check
    // that the server answers, so that no logging thread waits for it.
    std::function<void(CSMTPConnection&)> connectionTest;

    CSMTPConnectionRef pSMTPConnection;
    std::string sSender;
    std::vector<std::string> recipients;
    std::string sSubject;
    std::string sBody;
    std::optional<std::string> attachmentPath;
};

// The queue of requests, oldest first. While no user holds a reference it
// accepts and delivers nothing (a consumer's wait still runs its course, so
// a consumer never spins).
class CMailRequestsContainer {
public:
    // The most requests kept: beyond it the oldest is dropped, with an event
    // at most once a minute saying how many were dropped since the last one.
    static constexpr std::size_t kMaxRequests = 1000;

    CMailRequestsContainer() = default;
    virtual ~CMailRequestsContainer() = default;
    CMailRequestsContainer(const CMailRequestsContainer&) = delete;
    CMailRequestsContainer& operator=(const CMailRequestsContainer&) = delete;

    void AddRef();
    // The release that brings the count from 1 to 0 drops every request.
    void Release();

    // Appends a copy and wakes the consumer; dropped silently while the
    // count is 0.
    void AddRequest(const CMailRequest& request);

    // Takes the oldest request, waiting for one at most `timeoutMs` (-1: no
    // bound) or until WakeConsumer(). False when none was taken.
    bool GetRequest(CMailRequest& request, int timeoutMs);

    // Drops every request; returns how many there were.
    std::size_t RemoveAll();

    std::size_t GetCount() const;
    int32_t GetRefsCount() const;

    // Ends a wait in GetRequest without a request.
    void WakeConsumer();

    // Logs the drop event now if drops are still unreported.
    void ReportDrops();

private:
    void ReportDropsLocked(bool bForce);

    mutable platform::RecursiveMutex m_lock;
    std::deque<CMailRequest> m_requests;
    platform::ManualResetEvent m_requestsAvailable;
    int32_t m_nRefsCnt = 0;
    uint64_t m_nDropsUnreported = 0;
    bool m_bDropsReported = false;
    std::chrono::steady_clock::time_point m_lastDropReport;
};

// The process-wide container, created on first use.
CMailRequestsContainer& GetMailRequestsContainer();

// How long unload waits for the mail thread before it logs that it is still
// waiting.
constexpr int kMailThreadStopBoundMs = 5000;

// The mail thread's function. The parameter is ignored; returns 0.
int StartMailRequestsThread(void* pParam) noexcept;

// Starts the mail thread unless it is already running. True when it runs;
// false when it could not be started or the library is being unloaded.
// Whatever the thread reaches through the log facade (the alert handlers)
// must exist before the first call, so that unload destroys it only after the
// thread has stopped.
bool LaunchMailRequestsThread() noexcept;

// True on the mail thread. Warnings raised there must not become mails.
bool IsMailThread() noexcept;

// Signalled when the library unloads: cuts every wait of the mail thread
// short. Connections used by the mail thread wait on it.
platform::WakeEvent& MailThreadWakeEvent();

namespace testing {
// The mail thread's handle (to read its CPU clock); only while it runs.
platform::LibraryThread::NativeHandle MailThreadHandle();
// Waits up to `timeoutMs` until the mail thread holds no connection (after
// the last other user gave it back, the thread closes it). True when so.
bool WaitUntilMailThreadHoldsNoConnection(int timeoutMs);
}  // namespace testing

}  // namespace vantrel
