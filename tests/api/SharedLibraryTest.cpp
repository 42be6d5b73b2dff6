// The shared object as a host sees it: what it exports, and unloading it (or
// exiting) while a session runs.
#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <set>
#include <sstream>

#include "config/Config.h"
#include "tests/api/ExitHostProcess.h"
#include "tests/api/SessionFixture.h"

namespace vantrel {
namespace test {
namespace {

TEST(SharedLibrary, ExportsExactlyTheFiveFunctions) {
    const std::string command = std::string(VANTREL_NM) + " -D --defined-only " + VANTREL_SHARED_LIBRARY;
    FILE* nm = ::popen(command.c_str(), "r");
    ASSERT_NE(nm, nullptr);
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, nm) != nullptr) output += buffer;
    ASSERT_EQ(::pclose(nm), 0) << output;

    const std::set<std::string> api = {"Login", "Logoff", "GetExceptionHandler", "GetLastQuotes", "GetLastNQuotes"};
    std::set<std::string> found;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        const std::string bare = name.substr(0, name.find('@'));
        // A version node: GNU nm prints it bare, llvm-nm as NODE@@NODE.
        if (type == "A" && bare == name.substr(name.rfind('@') + 1)) continue;
        EXPECT_TRUE(type == "T" && api.count(bare) == 1) << "unexpected export: " << line;
        found.insert(bare);
    }
    EXPECT_EQ(found, api);
}

using LoginFunction = int (*)(const char*, int, const char*, const char*);
using QuotesFunction = int (*)(char*, int*, double*, double*, int*, double*, double*);

TEST_F(SessionFixture, UnloadingDuringASessionStopsTheQuotesThread) {
    void* library = ::dlopen(VANTREL_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    const auto login = reinterpret_cast<LoginFunction>(::dlsym(library, "Login"));
    const auto quotes = reinterpret_cast<QuotesFunction>(::dlsym(library, "GetLastQuotes"));
    ASSERT_TRUE(login != nullptr && quotes != nullptr);

    // By name: the look-up's helper thread keeps the library loaded only
    // while it runs, so the unload below still unloads it.
    std::future<int> result = std::async(std::launch::async, [&] {
        return login("localhost", server.port(), kLogin, kPassword);
    });
    std::string line;
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(server.ReadLine(line) && server.ReadLine(line));
    ASSERT_TRUE(server.Send(std::string(kGranted) + "[QT]" +
                            SnapshotMessage("EUR/USD", {{"0", "1.5", "1000000"}}) + "\r\n"));
    ASSERT_EQ(result.get(), 1);
    // Queried from this thread, which lives on after the unload: the library
    // must leave nothing behind in it that would keep it loaded.
    ASSERT_TRUE(WaitUntil([&] {
        char symbol[] = "EUR/USD";
        int bids = 1, offers = 1;
        double values[4];
        return quotes(symbol, &bids, &values[0], &values[1], &offers, &values[2], &values[3]) == 1;
    }));

    ASSERT_EQ(::dlclose(library), 0);
    EXPECT_EQ(::dlopen(VANTREL_SHARED_LIBRARY, RTLD_NOW | RTLD_NOLOAD), nullptr) << "still loaded";
    EXPECT_TRUE(server.WaitForClientClose());
    EXPECT_TRUE(HasLogLine("event: StartQuotesThread(): Logging off.")) << LogText();
    EXPECT_TRUE(HasLogLine("event: StartQuotesThread(): Thread is finished."));
}

TEST_F(SessionFixture, ExitingDuringASessionStopsTheQuotesThread) {
    ExitHostProcess host({std::to_string(server.port())});
    ASSERT_TRUE(host.started());
    std::string line;
    ASSERT_TRUE(server.Accept() && server.ReadLine(line) && server.ReadLine(line) && server.Send(kGranted));
    EXPECT_TRUE(host.ExitedCleanly());
    // The thread was stopped in order before the process ended.
    EXPECT_TRUE(HasLogLine("event: StartQuotesThread(): Logging off.")) << LogText();
    EXPECT_TRUE(HasLogLine("event: StartQuotesThread(): Thread is finished."));
}

// The stop that the library's unload requests ends a Login still waiting for
// its verdict; that is an event, not a receive error.
TEST_F(SessionFixture, ExitingWhileLoginWaitsForTheVerdictLogsAnEventOnly) {
    ExitHostProcess host({std::to_string(server.port()), "127.0.0.1", "wait"});
    ASSERT_TRUE(host.started());
    std::string line;
    ASSERT_TRUE(server.Accept() && server.ReadLine(line) && server.ReadLine(line));
    host.Release();
    EXPECT_TRUE(host.ExitedCleanly(3000));
    EXPECT_TRUE(server.WaitForClientClose());
    EXPECT_TRUE(HasLogLine("event: StartQuotesThread(): Logging off.")) << LogText();
    EXPECT_EQ(WarningAndErrorLines(), std::vector<std::string>{}) << LogText();
}

// A settings file that is a FIFO nobody writes: nothing that reads the
// settings may wait for a writer. A refused Login logs an error, which reads
// the settings on the quotes thread while Login waits for the verdict; a
// Logoff from another thread waits for that Login; a process exiting during
// such a Login waits for it too.
TEST_F(SessionFixture, ASettingsFileThatIsAFifoKeepsNoLoginLogoffOrExitWaiting) {
    const std::string fifo = logDir / "fifo.cfg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    platform::SetEnvironment("VANTREL_CONFIG", fifo.c_str());
    vantrel::testing::ResetConfigStore();
    // Should a read wait for a writer after all, one that comes and goes ends
    // the wait, so that the test fails instead of hanging.
    const auto finishes = [&fifo](std::future<int>& call) {
        if (call.wait_for(std::chrono::seconds(60)) == std::future_status::ready) return true;
        for (int i = 0; i < 3; ++i) {
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        }
        return false;
    };
    std::string line;
    std::future<int> login = StartLogin(server.port());
    ASSERT_TRUE(server.Accept() && server.ReadLine(line) && server.ReadLine(line) && server.Send("#0 refused\r\n"));
    std::future<int> logoff = std::async(std::launch::async, [] { return ::Logoff(); });
    EXPECT_TRUE(finishes(login));
    EXPECT_TRUE(finishes(logoff));
    EXPECT_EQ(login.get(), -1);
    EXPECT_EQ(logoff.get(), 0);
    EXPECT_TRUE(HasLogLine("event: GetConfigDefaults(): File \"" + fifo +
                           "\" cannot be read: not a regular file; every setting keeps its default"))
        << LogText();

    ExitHostProcess host({std::to_string(server.port()), "127.0.0.1", "wait"});
    ASSERT_TRUE(host.started());
    ASSERT_TRUE(server.Accept() && server.ReadLine(line) && server.ReadLine(line) && server.Send("#0 refused\r\n"));
    host.Release();
    EXPECT_TRUE(host.ExitedCleanly(60000));
    platform::UnsetEnvironment("VANTREL_CONFIG");
    vantrel::testing::ResetConfigStore();
}

}  // namespace
}  // namespace test
}  // namespace vantrel
