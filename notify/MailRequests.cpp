#include "notify/MailRequests.h"

#include <atomic>
#include <mutex>
#include <thread>

#include "config/Config.h"
#include "log/LogFacade.h"
#include "notify/AlertSetUp.h"
#include "platform/TlsStream.h"

namespace vantrel {
namespace {

using Lock = std::lock_guard<platform::RecursiveMutex>;

std::mutex g_launchMutex;
platform::LibraryThread g_mailThread;
std::atomic<bool> g_bStopRequested{false};
std::atomic<std::thread::id> g_mailThreadId{};
platform::WatchedValue<bool> g_bMailThreadFinished{false};
platform::WatchedValue<bool> g_bMailThreadHoldsConnection{false};

bool StopRequested() noexcept { return g_bStopRequested.load(); }

// Stops the mail thread when the library is unloaded or the process exits.
// Where unload may not wait for threads (Windows: the loader lock), the
// thread holds the library loaded while it runs, so unload happens only at
// process exit, after the system has ended the thread: nothing to wait for.
void StopMailThread() {
    {
        // Under the launch lock: no launch can begin after this.
        std::lock_guard<std::mutex> guard(g_launchMutex);
        g_bStopRequested.store(true);
    }
    MailThreadWakeEvent().Signal();
    GetMailRequestsContainer().WakeConsumer();
    if (!g_mailThread.Joinable()) return;
    if (g_mailThread.IsCurrent()) {
        g_mailThread.Detach();  // the process is ending on the mail thread itself
        return;
    }
    if (!platform::MayJoinThreadsAtUnload()) {
        // A thread the system has already ended (process exit) is not waited
        // for. One still running here belongs to a program that links the
        // library in (its static objects go before its threads end): it gets
        // the stop bound to finish its last steps before the objects it uses
        // are destroyed. Waiting on its flag, not joining, needs no loader lock.
        if (g_mailThread.Running()) {
            g_bMailThreadFinished.waitFor(true, std::chrono::milliseconds(kMailThreadStopBoundMs));
        }
        g_mailThread.Detach();
        return;
    }
    if (!g_bMailThreadFinished.waitFor(true, std::chrono::milliseconds(kMailThreadStopBoundMs))) {
        OutputEvent2Log("StartMailRequestsThread(): the thread did not stop within " +
                        std::to_string(kMailThreadStopBoundMs) + " ms; waiting for it.");
    }
    g_mailThread.Join();
}

// Created by the first launch after the objects the thread uses, so it is
// destroyed before them: no library thread outlives the library.
struct MailThreadReaper {
    ~MailThreadReaper() { StopMailThread(); }
};

void PrepareForUnload() {
    GetMailRequestsContainer();
    MailThreadWakeEvent();
    // The settings store too: an error the thread reports reads a setting,
    // and a store first made by the thread itself would be destroyed at exit
    // while the thread still reads it.
    ConfigFilePath();
    platform::PrepareTls();
    static MailThreadReaper reaper;
}

// The one warning of a failed delivery that reaches the alert channels.
void ReportUndelivered(const std::string& text) {
    const LogOnlyAlerts alert(false);
    OutputWarning2Log(text);
}

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

bool CMailRequest::SendMail() {
    if (!pSMTPConnection) {
        ReportUndelivered("Failed to send the SMTP message: pSMTPConnection pointer is NULL.");
        return false;
    }
    CSMTPConnection& connection = *pSMTPConnection.get();
    connection.SetWakeEvent(&MailThreadWakeEvent());
    if (connectionTest) {
        connectionTest(connection);
        return true;
    }
    CMailMessage message;
    message.m_From = SenderAddress(sSender);
    for (const std::string& recipient : recipients) message.AddRecipient(CMailAddress(recipient));
    message.m_sSubject = sSubject;
    message.SetBody(sBody);
    if (attachmentPath) {
        CMailAttachment attachment;
        attachment.Attach(*attachmentPath);
        message.AddAttachment(attachment);
    }
    for (int attempt = 1;; ++attempt) {
        const bool bOpen = connection.CheckIdleConnection() || connection.Connect();
        if (bOpen && connection.SendMessage(message)) return true;
        // Read before the QUIT below replaces the server's last reply.
        const std::string reason = connection.DescribeLastFailure();
        const bool bAgain = attempt < 2 && connection.IsLastFailureTransient() && !StopRequested();
        // A failed transaction is not continued: the next mail starts afresh.
        if (bOpen) connection.Disconnect();
        if (!bAgain) {
            ReportUndelivered((bOpen ? "Failed to send the SMTP message: " : "Failed to connect to the SMTP server: ") +
                              reason);
            return false;
        }
    }
}

void CMailRequestsContainer::AddRef() {
    Lock guard(m_lock);
    ++m_nRefsCnt;
    OutputEvent2Log("CMailRequestsContainer::AddRef(): m_nRefsCnt = " + std::to_string(m_nRefsCnt));
}

void CMailRequestsContainer::Release() {
    std::deque<CMailRequest> dropped;
    {
        Lock guard(m_lock);
        if (m_nRefsCnt >= 1) {
            if (m_nRefsCnt == 1) dropped.swap(m_requests);
            --m_nRefsCnt;
        }
        OutputEvent2Log("CMailRequestsContainer::Release(): m_nRefsCnt = " + std::to_string(m_nRefsCnt));
    }
    // Requests are destroyed outside the lock: giving back a connection's last
    // reference sends QUIT and may log, and logging may queue a request.
}

void CMailRequestsContainer::AddRequest(const CMailRequest& request) {
    CMailRequest dropped;
    Lock guard(m_lock);
    if (m_nRefsCnt == 0) return;
    if (m_requests.size() >= kMaxRequests) {
        dropped = std::move(m_requests.front());
        m_requests.pop_front();
        ++m_nDropsUnreported;
        ReportDropsLocked(false);
    }
    m_requests.push_back(request);
    m_requestsAvailable.Set();
}

bool CMailRequestsContainer::GetRequest(CMailRequest& request, int timeoutMs) {
    const auto take = [&] {
        if (m_nRefsCnt == 0 || m_requests.empty()) return false;
        request = std::move(m_requests.front());
        m_requests.pop_front();
        return true;
    };
    {
        Lock guard(m_lock);
        if (take()) return true;
    }
    if (!m_requestsAvailable.Wait(timeoutMs)) return false;
    Lock guard(m_lock);
    m_requestsAvailable.Reset();
    return take();
}

std::size_t CMailRequestsContainer::RemoveAll() {
    std::deque<CMailRequest> dropped;
    {
        Lock guard(m_lock);
        dropped.swap(m_requests);
    }
    return dropped.size();
}

std::size_t CMailRequestsContainer::GetCount() const {
    Lock guard(m_lock);
    return m_requests.size();
}

int32_t CMailRequestsContainer::GetRefsCount() const {
    Lock guard(m_lock);
    return m_nRefsCnt;
}

void CMailRequestsContainer::WakeConsumer() {
    Lock guard(m_lock);
    m_requestsAvailable.Set();
}

void CMailRequestsContainer::ReportDrops() {
    Lock guard(m_lock);
    ReportDropsLocked(true);
}

void CMailRequestsContainer::ReportDropsLocked(bool bForce) {
    const auto now = std::chrono::steady_clock::now();
    if (m_nDropsUnreported == 0) return;
    if (!bForce && m_bDropsReported && now - m_lastDropReport < std::chrono::minutes(1)) return;
    OutputEvent2Log("CMailRequestsContainer::AddRequest(): the queue is full (" + std::to_string(kMaxRequests) +
                    " mails); " + std::to_string(m_nDropsUnreported) +
                    " oldest mails dropped since the last report.");
    m_nDropsUnreported = 0;
    m_bDropsReported = true;
    m_lastDropReport = now;
}

CMailRequestsContainer& GetMailRequestsContainer() {
    static CMailRequestsContainer container;
    return container;
}

platform::WakeEvent& MailThreadWakeEvent() {
    static platform::WakeEvent wake;
    return wake;
}

int StartMailRequestsThread(void* /*pParam*/) noexcept {
    g_mailThreadId.store(std::this_thread::get_id());
    const LogOnlyAlerts logOnly(true);
    OutputEvent2Log("StartMailRequestsThread(): Thread is started.");
    CMailRequestsContainer& container = GetMailRequestsContainer();
    container.AddRef();
    std::size_t dropped = 0;
    // The connection of the last mail, kept to close it when it has been idle
    // long enough or nobody else uses it any more.
    CSMTPConnectionRef current;
    Clock::time_point lastUse = Clock::now();
    const auto hold = [&](CSMTPConnectionRef connection) {
        current = std::move(connection);
        g_bMailThreadHoldsConnection.set(static_cast<bool>(current));
    };
    for (;;) {
        CMailRequest request;
        int waitMs = -1;
        if (current && current->IsConnected()) {
            const long long left = current->GetOptions().timeouts.idleQuitMs - MillisecondsSince(lastUse);
            waitMs = left > 0 ? static_cast<int>(left) : 0;
        }
        const bool bTaken = container.GetRequest(request, waitMs);
        if (StopRequested()) {
            dropped += bTaken ? 1 : 0;
            break;
        }
        if (bTaken) {
            if (request.pSMTPConnection) hold(request.pSMTPConnection);
            try {
                const bool bMail = !request.connectionTest;
                if (request.SendMail() && bMail) OutputEvent2Log("StartMailRequestsThread(): a mail is sent.");
            } catch (...) {
                const LogOnlyAlerts alert(false);
                OutputError2Log(3, "StartMailRequestsThread(): Unknown exception catch during CMailRequest::SendMail().");
            }
            request = CMailRequest();
            lastUse = Clock::now();
        } else if (current && current->IsConnected() &&
                   MillisecondsSince(lastUse) >= current->GetOptions().timeouts.idleQuitMs) {
            OutputEvent2Log("StartMailRequestsThread(): no mail for " +
                            std::to_string(current->GetOptions().timeouts.idleQuitMs) +
                            " ms; the SMTP connection is closed.");
            current->Disconnect();
        }
        // Nobody else holds it: giving it back closes it (with QUIT).
        if (current && current->GetRefsCount() == 1) hold(CSMTPConnectionRef());
    }
    if (current) current->QuitBeforeUnload();
    hold(CSMTPConnectionRef());
    OutputEvent2Log("StartMailRequestsThread(): Stopping Corvel Application.");
    container.ReportDrops();
    dropped += container.RemoveAll();
    if (dropped > 0) {
        OutputEvent2Log("StartMailRequestsThread(): " + std::to_string(dropped) + " queued mails dropped at unload.");
    }
    container.Release();
    OutputEvent2Log("StartMailRequestsThread(): Thread is finished.");
    g_bMailThreadFinished.set(true);
    return 0;
}

bool LaunchMailRequestsThread() noexcept {
    try {
        std::lock_guard<std::mutex> guard(g_launchMutex);
        if (StopRequested()) return false;
        if (g_mailThread.Joinable()) return true;
        PrepareForUnload();
        return g_mailThread.Start([] { StartMailRequestsThread(nullptr); });
    } catch (...) {
        return false;
    }
}

bool IsMailThread() noexcept { return g_mailThreadId.load() == std::this_thread::get_id(); }

namespace testing {

platform::LibraryThread::NativeHandle MailThreadHandle() {
    std::lock_guard<std::mutex> guard(g_launchMutex);
    return g_mailThread.Handle();
}

bool WaitUntilMailThreadHoldsNoConnection(int timeoutMs) {
    return g_bMailThreadHoldsConnection.waitFor(false, std::chrono::milliseconds(timeoutMs));
}

}  // namespace testing
}  // namespace vantrel
