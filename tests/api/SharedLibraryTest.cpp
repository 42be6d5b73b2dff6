// The shared object as a host sees it: what it exports, and unloading it (or
// exiting) while a session runs.
#include <cstdio>
#include <dlfcn.h>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>

#include "tests/api/SessionFixture.h"

extern char** environ;

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
        if (type == "A" && name.find('@') == std::string::npos) continue;  // a version node
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

    std::future<int> result = std::async(std::launch::async, [&] {
        return login("127.0.0.1", server.port(), kLogin, kPassword);
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
    const std::string port = std::to_string(server.port());
    char* const argv[] = {const_cast<char*>(VANTREL_EXIT_HOST), const_cast<char*>(VANTREL_SHARED_LIBRARY),
                          const_cast<char*>(port.c_str()), nullptr};
    pid_t child = 0;
    ASSERT_EQ(::posix_spawn(&child, VANTREL_EXIT_HOST, nullptr, nullptr, argv, environ), 0);

    std::string line;
    const bool bServed = server.Accept() && server.ReadLine(line) && server.ReadLine(line) && server.Send(kGranted);
    int status = 0;
    const bool bExited = WaitUntil([&] { return ::waitpid(child, &status, WNOHANG) == child; });
    if (!bExited) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    ASSERT_TRUE(bServed);
    ASSERT_TRUE(bExited);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    // The thread was stopped in order before the process ended.
    EXPECT_TRUE(HasLogLine("event: StartQuotesThread(): Logging off.")) << LogText();
    EXPECT_TRUE(HasLogLine("event: StartQuotesThread(): Thread is finished."));
}

}  // namespace
}  // namespace test
}  // namespace vantrel
