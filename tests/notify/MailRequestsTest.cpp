// The mail request queue and the mail thread. Each test runs in a process of
// its own (ctest), so each starts the process-wide thread afresh.
#include "notify/MailRequests.h"

#include <atomic>
#include <ctime>
#include <future>
#include <iostream>
#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

#include "api/Session.h"
#include "platform/ErrorCodes.h"
#include "tests/notify/MailFixture.h"
#include "tests/support/SmtpTestServer.h"

namespace vantrel {
namespace test {
namespace {

using platform::kErrorConnectionRefused;
using platform::kErrorNotConnected;

CMailRequest Request(const CSMTPConnectionRef& connection, const std::string& subject) {
    CMailRequest request;
    request.pSMTPConnection = connection;
    request.sSender = "feed@example.org";
    request.recipients = {"ops@example.org"};
    request.sSubject = subject;
    request.sBody = "<20241208-21:20:00, Warning>: " + subject;
    return request;
}

std::vector<std::string> Subjects(const SmtpTestServer& server) {
    std::vector<std::string> subjects;
    for (const ReceivedMail& mail : server.Mails()) subjects.push_back(mail.Header("Subject"));
    return subjects;
}

class MailRequestsTest : public MailFixture {
protected:
    CMailRequestsContainer& container = GetMailRequestsContainer();
};

TEST_F(MailRequestsTest, RequestsAreSentInOrderIncludingThoseQueuedBeforeTheThreadStarted) {
    SmtpTestServer server;
    CSMTPConnectionRef connection(new CSMTPConnection("127.0.0.1", server.port(), server.user(), server.password()));
    ASSERT_TRUE(connection->Connect());
    container.AddRef();  // the mail handler's reference
    for (const char* subject : {"mail 1", "mail 2", "mail 3"}) container.AddRequest(Request(connection, subject));
    ASSERT_TRUE(LaunchMailRequestsThread());
    EXPECT_TRUE(LaunchMailRequestsThread());  // already running
    for (const char* subject : {"mail 4", "mail 5"}) container.AddRequest(Request(connection, subject));
    ASSERT_TRUE(server.WaitForMails(5));
    EXPECT_EQ(Subjects(server), (std::vector<std::string>{"mail 1", "mail 2", "mail 3", "mail 4", "mail 5"}));
    EXPECT_EQ(Warnings(), std::vector<std::string>());
    EXPECT_EQ(CountLogLines("event: StartMailRequestsThread(): Thread is started."), 1u);
}

TEST_F(MailRequestsTest, OnlyTheMailThreadIsTheMailThread) {
    // A stream that notes which thread uses it and refuses everything.
    class ProbeStream : public CByteStream {
    public:
        explicit ProbeStream(std::promise<bool>* pUsedOnMailThread) : m_pUsed(pUsedOnMailThread) {}
        ConnectResult Connect(const std::string&, int, int, int* pnError) override {
            if (m_pUsed != nullptr) m_pUsed->set_value(IsMailThread());
            m_pUsed = nullptr;
            *pnError = kErrorConnectionRefused;
            return ConnectResult::Failed;
        }
        bool Send(std::string_view, int, int* pnError) override {
            *pnError = kErrorNotConnected;
            return false;
        }
        long Receive(char*, std::size_t, int, int* pnError) override {
            *pnError = kErrorNotConnected;
            return -1;
        }
        void Close() noexcept override {}
        bool IsOpen() const noexcept override { return false; }

    private:
        std::promise<bool>* m_pUsed;
    };
    std::promise<bool> usedOnMailThread;
    CSMTPConnectionRef connection(
        new CSMTPConnection("mail.invalid", 25, "u", "p", std::make_unique<ProbeStream>(&usedOnMailThread)));
    container.AddRef();
    container.AddRequest(Request(connection, "probe"));
    EXPECT_FALSE(IsMailThread());
    ASSERT_TRUE(LaunchMailRequestsThread());
    std::future<bool> used = usedOnMailThread.get_future();
    ASSERT_EQ(used.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready);
    EXPECT_TRUE(used.get());
    EXPECT_FALSE(IsMailThread());
}

TEST_F(MailRequestsTest, TheQueueKeepsTheNewestThousandAndReportsDropsAtMostOnceAMinute) {
    const CSMTPConnectionRef connection(new CSMTPConnection("127.0.0.1", 25, "u", "p"));
    container.AddRequest(Request(connection, "before any reference"));
    EXPECT_EQ(container.GetCount(), 0u);
    container.AddRef();
    for (int i = 1; i <= 1001; ++i) container.AddRequest(Request(connection, std::to_string(i)));
    EXPECT_EQ(container.GetCount(), 1000u);
    const std::string dropEvent = "event: CMailRequestsContainer::AddRequest(): the queue is full (1000 mails); ";
    EXPECT_EQ(CountLogLines(dropEvent + "1 oldest mails dropped since the last report."), 1u);
    for (int i = 1002; i <= 1004; ++i) container.AddRequest(Request(connection, std::to_string(i)));
    std::size_t dropEvents = 0;
    for (const std::string& line : LogLines()) dropEvents += line.rfind(dropEvent, 0) == 0;
    EXPECT_EQ(dropEvents, 1u);

    CMailRequest oldest;
    ASSERT_TRUE(container.GetRequest(oldest, 0));
    EXPECT_EQ(oldest.sSubject, "5");
    EXPECT_EQ(connection->GetRefsCount(), 1 + 999 + 1);  // ours, the queued ones, the one taken
    container.Release();  // the last reference: every request goes
    EXPECT_EQ(container.GetCount(), 0u);
    EXPECT_FALSE(container.GetRequest(oldest, 0));
    EXPECT_EQ(LogLines().back(), "event: CMailRequestsContainer::Release(): m_nRefsCnt = 0");
    oldest = CMailRequest();
    EXPECT_EQ(connection->GetRefsCount(), 1);
}

TEST_F(MailRequestsTest, MailsStillGoOutAfterLogoffAndLoginCycles) {
    SmtpTestServer server;
    CSMTPConnectionRef connection(new CSMTPConnection("127.0.0.1", server.port(), server.user(), server.password()));
    container.AddRef();
    ASSERT_TRUE(LaunchMailRequestsThread());
    QuoteServer quotes;
    for (int cycle = 0; cycle < 3; ++cycle) {
        std::future<int> login =
            std::async(std::launch::async, [&] { return ::vantrel::Login("127.0.0.1", quotes.port(), "u", "p"); });
        std::string line;
        ASSERT_TRUE(quotes.Accept() && quotes.ReadLine(line) && quotes.ReadLine(line));
        quotes.Send("#1 Login granted\r\n");
        ASSERT_EQ(login.get(), 1);
        ASSERT_EQ(::vantrel::Logoff(), 1);
    }
    container.AddRequest(Request(connection, "after three sessions"));
    ASSERT_TRUE(server.WaitForMails(1));
    EXPECT_EQ(Subjects(server), std::vector<std::string>{"after three sessions"});
}

TEST_F(MailRequestsTest, AnIdleMailThreadUsesNoMeasurableCpu) {
    ASSERT_TRUE(LaunchMailRequestsThread());
    ASSERT_TRUE(WaitUntil([&] { return container.GetRefsCount() == 1; }));  // the thread is in its loop
#if defined(_WIN32)
    const HANDLE thread = vantrel::testing::MailThreadHandle();
    const auto cpuNanoseconds = [&] {
        FILETIME created, exited, kernel, user;
        ::GetThreadTimes(thread, &created, &exited, &kernel, &user);
        const auto ticks = [](const FILETIME& t) { return (static_cast<long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
        return (ticks(kernel) + ticks(user)) * 100;
    };
#else
    clockid_t clock;
    ASSERT_EQ(::pthread_getcpuclockid(vantrel::testing::MailThreadHandle(), &clock), 0);
    const auto cpuNanoseconds = [&] {
        timespec t{};
        ::clock_gettime(clock, &t);
        return t.tv_sec * 1000000000LL + t.tv_nsec;
    };
#endif
    const long long before = cpuNanoseconds();
    std::this_thread::sleep_for(std::chrono::seconds(5));  // the span measured, not a synchronisation
    const long long used = cpuNanoseconds() - before;
    std::cout << "mail thread CPU time over 5 s idle: " << used / 1000 << " us\n";
    EXPECT_LT(used, 50LL * 1000 * 1000);
}

}  // namespace
}  // namespace test
}  // namespace vantrel
