// The host unloads the library (dlclose) while a session runs and quotes
// pour in, several times over: each unload stops the quotes thread in order,
// the library really goes, and a new load starts clean. Under the leak
// checker of a sanitizer build nothing the library allocated outlives it.
#include <dlfcn.h>

#include <algorithm>

#include "tests/api/SessionFixture.h"

namespace vantrel {
namespace test {
namespace {

using LoginFunction = int (*)(const char*, int, const char*, const char*);
using QuotesFunction = int (*)(char*, int*, double*, double*, int*, double*, double*);

TEST_F(SessionFixture, UnloadWhileQuotesPourIn) {
    QuoteStreamer streamer([](uint64_t n) {
        std::string batch;
        for (uint64_t k = 0; k < 50; ++k) {
            const std::string px = std::to_string((n * 50 + k) % 1000 + 1);
            batch += "[QT]" + SnapshotMessage("EUR/USD", {{"0", px, "1000000"}}) + "\r\n";
            batch += "[QT]not a message\r\n";
        }
        return batch;
    });
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        void* library = ::dlopen(VANTREL_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << ::dlerror();
        const auto login = reinterpret_cast<LoginFunction>(::dlsym(library, "Login"));
        const auto quotes = reinterpret_cast<QuotesFunction>(::dlsym(library, "GetLastQuotes"));
        ASSERT_TRUE(login != nullptr && quotes != nullptr);
        ASSERT_EQ(login("127.0.0.1", streamer.port(), kLogin, kPassword), 1);
        // Quotes are being stored when the unload comes.
        ASSERT_TRUE(WaitUntil([&] {
            char symbol[] = "EUR/USD";
            int bids = 1, offers = 1;
            double values[4];
            return quotes(symbol, &bids, &values[0], &values[1], &offers, &values[2], &values[3]) == 1;
        }));
        const uint64_t nSessions = streamer.sessions();
        ASSERT_EQ(::dlclose(library), 0);
        EXPECT_EQ(::dlopen(VANTREL_SHARED_LIBRARY, RTLD_NOW | RTLD_NOLOAD), nullptr) << "still loaded";
        EXPECT_EQ(streamer.sessions(), nSessions);
    }
    // Each unload ended its session in order, as a Logoff would.
    const std::vector<std::string> lines = LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "event: StartQuotesThread(): Logging off."), 3);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "event: StartQuotesThread(): Thread is finished."), 3);
}

}  // namespace
}  // namespace test
}  // namespace vantrel
