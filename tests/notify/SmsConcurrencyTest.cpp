// SMS alerts logged from several threads at once (run again under
// ThreadSanitizer in CI).
#include <algorithm>
#include <atomic>
#include <future>
#include <thread>

#include "tests/notify/SmsFixture.h"

namespace vantrel {
namespace test {
namespace {

// Two threads log the first error of the process at the same moment: the
// handler is set up once (one gateway, one outcome event) and both errors
// are sent.
TEST_F(SmsFixture, TwoThreadsAtTheFirstSetUpCreateOneGateway) {
    const std::string settings = std::string(kSmsAccount) + "SMSToMobileNumber=+4411\nSMSSendErrors=Y\n";
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        Restart(settings.c_str());
        std::atomic<int> ready{0};
        auto logError = [&](const char* text) {
            ready.fetch_add(1);
            while (ready.load() < 2) {
            }
            OutputError2Log(1, text);
        };
        std::thread first(logError, "from the first thread");
        std::thread second(logError, "from the second thread");
        first.join();
        second.join();

        const std::vector<std::string> calls = Calls();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), kCreated), 1);
        EXPECT_EQ(SentTexts().size(), 2u);
        EXPECT_EQ(CountLogLines("event: CSMSHandler::CSMSHandler(): SMS gateway is connected"), 1u);
    }
}

// While one thread waits in a slow gateway, alerts that the settings do not
// send (warnings switched off, errors above the threshold) return at once
// instead of queueing behind it; one that is sent waits its turn.
TEST_F(SmsFixture, AlertsTheSettingsDropDoNotWaitForASlowGateway) {
    Restart((std::string(kSmsAccount) + "SMSToMobileNumber=+4411\nSMSSendErrors=Y\nSMSErrorsSeverityCode=1\n").c_str());
    const std::string gate = dir / "gate";
    platform::SetEnvironment("VANTREL_TEST_SMS_GATE", gate.c_str());

    std::thread slow([] { OutputError2Log(1, "slow"); });
    ASSERT_TRUE(WaitUntil([&] { return SentTexts().size() == 1; }));

    std::future<void> dropped = std::async(std::launch::async, [] {
        OutputWarning2Log("warnings are off");
        OutputError2Log(2, "above the threshold");
    });
    std::future<void> queued = std::async(std::launch::async, [] { OutputError2Log(1, "queued"); });
    const bool bDroppedReturned = dropped.wait_for(std::chrono::milliseconds(kWaitMs)) == std::future_status::ready;

    WriteFile(gate, "open");
    slow.join();
    dropped.get();
    queued.get();
    EXPECT_TRUE(bDroppedReturned);
    EXPECT_EQ(SentTexts(), (std::vector<std::string>{"<20261208-09:15:00, Error (1)>: slow",
                                                     "<20261208-09:15:00, Error (1)>: queued"}));
}

}  // namespace
}  // namespace test
}  // namespace vantrel
