// Login against a name server that never answers. Run by silent_resolver.sh
// inside private mount and network namespaces, where the only name server
// (127.0.0.1, port 53) is a UDP socket of this test that reads queries and
// sends nothing back. Skipped when started any other way.
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "tests/api/ExitHostProcess.h"
#include "tests/api/SessionFixture.h"

namespace vantrel {
namespace test {
namespace {

// Not in /etc/hosts, so only the name server could answer it.
constexpr const char* kUnansweredName = "quotes.vantrel.test";

// A fresh network namespace starts with its loopback interface down.
bool BringLoopbackUp() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ifreq request{};
    std::snprintf(request.ifr_name, sizeof request.ifr_name, "lo");
    bool bUp = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (bUp && (request.ifr_flags & IFF_UP) == 0) {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
        bUp = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    ::close(fd);
    return bUp;
}

// The name server that never answers.
class SilentNameServer {
public:
    SilentNameServer() {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(53);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_bBound = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~SilentNameServer() {
        if (m_fd >= 0) ::close(m_fd);
    }
    bool bound() const { return m_bBound; }

    // Waits for a query; true when one arrived within `timeoutMs`.
    bool WaitForQuery(int timeoutMs = kWaitMs) {
        pollfd fd{m_fd, POLLIN, 0};
        if (::poll(&fd, 1, timeoutMs) != 1) return false;
        char datagram[512];
        return ::recv(m_fd, datagram, sizeof datagram, 0) > 0;
    }

private:
    int m_fd = -1;
    bool m_bBound = false;
};

class SilentResolverTest : public SessionFixture {
protected:
    void SetUp() override {
        if (std::getenv("VANTREL_SILENT_RESOLVER") == nullptr) {
            GTEST_SKIP() << "needs the private name server that silent_resolver.sh sets up";
        }
        SessionFixture::SetUp();
        ASSERT_TRUE(nameServer.bound()) << "cannot bind 127.0.0.1:53";
    }

    SilentNameServer nameServer;
};

using Clock = std::chrono::steady_clock;

TEST_F(SilentResolverTest, ResolvingTheNameCountsInsideTheConnectBound) {
    vantrel::testing::SetHandshakeTimeouts(1000, 5000);
    const Clock::time_point start = Clock::now();
    std::future<int> login = StartLogin(server.port(), kUnansweredName);
    EXPECT_TRUE(nameServer.WaitForQuery());
    ASSERT_EQ(login.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "Login outlived its bound";
    EXPECT_EQ(login.get(), -1);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(g_nSessionsCnt.load(), 0);
    EXPECT_TRUE(HasLogLine("Warning: StartQuotesThread(): 'send' socket error = 110.")) << LogText();  // ETIMEDOUT

    // The abandoned look-up holds nothing up: the next Login connects.
    EXPECT_EQ(ServeLogin(), 1);
}

TEST_F(SilentResolverTest, ExitingWhileLoginResolvesEndsItWithAnEvent) {
    ExitHostProcess host({std::to_string(server.port()), kUnansweredName, "wait"});
    ASSERT_TRUE(host.started());
    ASSERT_TRUE(nameServer.WaitForQuery());
    host.Release();
    EXPECT_TRUE(host.ExitedCleanly(3000));
    EXPECT_FALSE(server.HasPendingClient());
    EXPECT_TRUE(HasLogLine("event: StartQuotesThread(): Logging off.")) << LogText();
    EXPECT_EQ(WarningAndErrorLines(), std::vector<std::string>{}) << LogText();
}

}  // namespace
}  // namespace test
}  // namespace vantrel

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Before any test's server listens on loopback.
    if (std::getenv("VANTREL_SILENT_RESOLVER") != nullptr && !vantrel::test::BringLoopbackUp()) {
        std::fprintf(stderr, "cannot bring the loopback interface up\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
