// Login against a name server that never answers, and against names with
// several addresses. Run by silent_resolver.sh inside private mount and
// network namespaces, where the only name server (127.0.0.1, port 53) is a UDP
// socket of this test that reads queries and sends nothing back, and the
// hosts file holds the names below. Skipped when started any other way.
#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "tests/api/ExitHostProcess.h"
#include "tests/api/SessionFixture.h"

namespace vantrel {
namespace test {
namespace {

// Not in /etc/hosts, so only the name server could answer it.
constexpr const char* kUnansweredName = "quotes.vantrel.test";
// In the hosts file: ::1 only; ::1, 127.0.0.2 and 127.0.0.1, in this order.
constexpr const char* kIPv6Name = "v6.quotes.vantrel.test";
constexpr const char* kThreeAddressName = "three.quotes.vantrel.test";
constexpr const char* kAddressesBeforeTheLast[] = {"::1", "127.0.0.2"};

// The addresses the resolver gives for `name`, in its order, as text.
std::string AddressesOf(const char* name) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0) return "<none>";
    std::string list;
    for (const addrinfo* p = found; p != nullptr; p = p->ai_next) {
        char text[INET6_ADDRSTRLEN] = "?";
        ::getnameinfo(p->ai_addr, p->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
        list += (list.empty() ? "" : " ") + std::string(text);
    }
    ::freeaddrinfo(found);
    return list;
}

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

// Every address of a name is tried in the resolver's order, each with its
// share of the connect bound: an IPv6-only name, and two addresses that
// refuse or never answer before the one that serves.
TEST_F(SilentResolverTest, LoginTriesTheAddressesOfANameInTurn) {
    if (!LoopbackAvailable("::1")) GTEST_SKIP() << "no IPv6 loopback (::1) here";
    ASSERT_EQ(AddressesOf(kThreeAddressName), "::1 127.0.0.2 127.0.0.1");
    vantrel::testing::SetHandshakeTimeouts(3000, 5000);
    enum class Before { Nothing, Refuses, Silent };
    const struct {
        const char* host;
        Before before;  // at the addresses before the last
    } cases[] = {{kIPv6Name, Before::Nothing}, {kThreeAddressName, Before::Refuses}, {kThreeAddressName, Before::Silent}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.host) + ", before the last: " + std::to_string(static_cast<int>(c.before)));
        // Everything listens on the port of the fixture's server.
        std::optional<QuoteServer> v6;
        std::vector<std::unique_ptr<ClosedPort>> refusing;
        std::vector<std::unique_ptr<UnansweredPort>> silent;
        for (const char* address : kAddressesBeforeTheLast) {
            if (c.before == Before::Refuses) refusing.push_back(std::make_unique<ClosedPort>(address, server.port()));
            if (c.before == Before::Silent) {
                silent.push_back(std::make_unique<UnansweredPort>(address, server.port()));
                ASSERT_TRUE(silent.back()->ready());
            }
        }
        if (c.before == Before::Nothing) v6.emplace("::1", server.port());
        EXPECT_EQ(ServeLoginAt(v6 ? *v6 : server, c.host), 1);
        EXPECT_EQ(::Logoff(), 1);
    }
    EXPECT_EQ(WarningAndErrorLines(), std::vector<std::string>{}) << LogText();
}

TEST_F(SilentResolverTest, NameWhoseEveryAddressIsSilentFailsWithinTheConnectBound) {
    if (!LoopbackAvailable("::1")) GTEST_SKIP() << "no IPv6 loopback (::1) here";
    UnansweredPort first("::1");
    UnansweredPort second("127.0.0.2", first.port());
    UnansweredPort last("127.0.0.1", first.port());
    ASSERT_TRUE(first.ready() && second.ready() && last.ready());
    vantrel::testing::SetHandshakeTimeouts(1500, 5000);
    const Clock::time_point start = Clock::now();
    std::future<int> login = StartLogin(first.port(), kThreeAddressName);
    ASSERT_EQ(login.wait_for(std::chrono::seconds(6)), std::future_status::ready) << "Login outlived its bound";
    EXPECT_EQ(login.get(), -1);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1400));
    EXPECT_TRUE(HasLogLine("Warning: StartQuotesThread(): 'send' socket error = 110.")) << LogText();  // ETIMEDOUT
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
