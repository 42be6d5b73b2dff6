// Unloading the library, or exiting, while the mail thread waits on a server
// that says nothing: the thread is stopped within the bound, before anything
// it uses is destroyed, and the mail still queued is dropped with an event.
// Unloading with an idle connection open ends it with QUIT.
#include <chrono>
#include <dlfcn.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "notify/MailRequests.h"
#include "tests/notify/MailFixture.h"
#include "tests/support/SmtpFaultServer.h"

extern char** environ;

namespace vantrel {
namespace test {
namespace {

class MailUnloadTest : public MailFixture {
protected:
    void ExpectStoppedInOrder() {
        const std::vector<std::string> lines = LogLines();
        const auto at = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) - lines.begin(); };
        const auto finished = at("event: StartMailRequestsThread(): Thread is finished.");
        EXPECT_LT(finished, static_cast<long>(lines.size())) << LogText();
        EXPECT_LT(at("event: StartMailRequestsThread(): Stopping Corvel Application."), finished);
        EXPECT_LT(at("event: StartMailRequestsThread(): 1 queued mails dropped at unload."), finished);
    }

    // Silent after EHLO: the thread waits for its reply.
    static std::vector<SmtpFaultServer::Dialogue> SilentAfterEhlo() {
        return {{{"", {"220 fault.test ESMTP\r\n"}}, {"EHLO ", {}, SmtpFaultServer::Then::Silence}}};
    }

    // Loads the probe and has it queue two mails for the server at `port`
    // and start the mail thread; null (and a failure) when that fails.
    static void* QueueTwoMails(int port) {
        void* probe = ::dlopen(VANTREL_MAIL_PROBE, RTLD_NOW | RTLD_LOCAL);
        if (probe == nullptr) {
            ADD_FAILURE() << ::dlerror();
            return nullptr;
        }
        using QueueFunction = int (*)(const char*, int);
        const auto queue = reinterpret_cast<QueueFunction>(::dlsym(probe, "vantrel_probe_queue_mails"));
        if (queue == nullptr || queue("127.0.0.1", port) != 1) {
            ADD_FAILURE() << "the probe did not queue its mails";
            ::dlclose(probe);
            return nullptr;
        }
        return probe;
    }
};

long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

TEST_F(MailUnloadTest, DlcloseWhileSendingStopsTheThreadWithinTheBound) {
    SmtpFaultServer server(SilentAfterEhlo());
    void* probe = QueueTwoMails(server.port());
    ASSERT_NE(probe, nullptr);
    ASSERT_TRUE(server.WaitForSteps(2));

    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(::dlclose(probe), 0);
    const long long elapsed = MillisecondsSince(start);
    std::cout << "dlclose with the mail thread sending: " << elapsed << " ms\n";
    EXPECT_LT(elapsed, kMailThreadStopBoundMs);
    EXPECT_EQ(::dlopen(VANTREL_MAIL_PROBE, RTLD_NOW | RTLD_NOLOAD), nullptr) << "still loaded";
    EXPECT_TRUE(server.Finish()) << server.Failure();  // the client closed its connection
    ExpectStoppedInOrder();
}

TEST_F(MailUnloadTest, ExitingWhileSendingStopsTheThreadWithinTheBound) {
    SmtpFaultServer server(SilentAfterEhlo());
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    ::posix_spawn_file_actions_addclose(&actions, input[1]);
    const std::string port = std::to_string(server.port());
    char* const argv[] = {const_cast<char*>(VANTREL_MAIL_EXIT_HOST), const_cast<char*>(VANTREL_MAIL_PROBE),
                          const_cast<char*>(port.c_str()), nullptr};
    pid_t child = 0;
    const int spawned = ::posix_spawn(&child, VANTREL_MAIL_EXIT_HOST, &actions, nullptr, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ASSERT_EQ(spawned, 0);

    const bool bSending = server.WaitForSteps(2);
    const auto start = std::chrono::steady_clock::now();
    ::close(input[1]);  // the host returns from main
    int status = 0;
    const bool bExited = WaitUntil([&] { return ::waitpid(child, &status, WNOHANG) == child; });
    const long long elapsed = MillisecondsSince(start);
    if (!bExited) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    ASSERT_TRUE(bSending);
    ASSERT_TRUE(bExited);
    std::cout << "exit with the mail thread sending: " << elapsed << " ms\n";
    EXPECT_LT(elapsed, kMailThreadStopBoundMs);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    ExpectStoppedInOrder();
}

// The session ends with QUIT at unload: both mails delivered over one
// connection, which is still open when the library goes.
TEST_F(MailUnloadTest, UnloadEndsAnOpenConnectionWithQuit) {
    SmtpFaultServer server({SmtpFaultServer::Join({SmtpFaultServer::LoggedIn(), SmtpFaultServer::Transaction(1),
                                                   SmtpFaultServer::Transaction(1), {SmtpFaultServer::Quit()}})});
    void* probe = QueueTwoMails(server.port());
    ASSERT_NE(probe, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return CountLogLines("event: StartMailRequestsThread(): a mail is sent.") == 2u; }));
    ASSERT_EQ(::dlclose(probe), 0);
    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_EQ(server.Messages().size(), 2u);
}

}  // namespace
}  // namespace test
}  // namespace vantrel
