// Both alert handlers at once (run again under ThreadSanitizer in CI).
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <future>
#include <thread>

#include "notify/AlertSetUp.h"
#include "tests/notify/MailHandlerFixture.h"

namespace vantrel {
namespace test {
namespace {

class BothChannelsTest : public MailHandlerFixture {
protected:
    BothChannelsTest() { bBothChannels = true; }

    static std::string SmsSettings(const char* numbers) {
        return std::string(kSmsAccount) + "SMSToMobileNumber=" + numbers + "\nSMSSendErrors=Y\nSMSSendWarnings=Y\n";
    }
};

// Each handler reports while it holds the alert lock and the report reaches
// the other handler: the SMS set-up warns that its gateway refused (and the
// mail set-up runs inside it), or a refused MAPI send warns and the SMS
// handler sends the warning. Two threads logging at the same moment, during
// the first set-up of both handlers, must both finish.
TEST_F(BothChannelsTest, TwoThreadsLoggingDuringTheFirstSetUpOfBothFinish) {
    platform::SetEnvironment("VANTREL_TEST_MAPI_SEND_RESULT", "2");
    const auto stamped = [](const std::string& text) { return "<20261208-09:15:00, " + text; };
    const std::string error = stamped("Error (1)>: from the first thread");
    const std::string warning = stamped("Warning>: from the second thread");
    const std::string refused = stamped("Warning>: Failed to send e-mail using MAPISendMail function.");
    const std::string noGateway = stamped(
        "Warning>: CSMSHandler::CSMSHandler(): SMS gateway is not connected due to problem creating COM-object "
        "instance");
    const struct {
        const char* name;
        const char* control;  // for the recording gateway
        std::vector<std::string> sms;
        std::vector<std::string> mails;
    } cases[] = {
        {"the mail handler reports to the SMS handler", "", {error, refused, refused, warning}, {error, warning}},
        {"the SMS set-up reports to the mail handler", "VANTREL_TEST_SMS_REFUSE=1", {},
         {error, noGateway, warning}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> mails;
        for (const std::string& mail : c.mails) mails.push_back(mail.substr(0, 79));
        std::sort(mails.begin(), mails.end());
        for (int round = 0; round < 25; ++round) {
            SCOPED_TRACE(round);
            Restart((SmsSettings("+4411") + MapiSettings() + kMailSendAll).c_str());
            if (*c.control != '\0') SetControl(c.control);
            std::atomic<int> ready{0};
            const auto start = [&ready] {
                ready.fetch_add(1);
                while (ready.load() < 2) {
                }
            };
            std::future<void> first = std::async(std::launch::async, [&] {
                start();
                OutputError2Log(1, "from the first thread");
            });
            std::future<void> second = std::async(std::launch::async, [&] {
                start();
                OutputWarning2Log("from the second thread");
            });
            if (first.wait_for(std::chrono::milliseconds(kWaitMs)) != std::future_status::ready ||
                second.wait_for(std::chrono::milliseconds(kWaitMs)) != std::future_status::ready) {
                ADD_FAILURE() << "the two threads wait on each other";
                std::abort();  // they never return: nothing else can be tested
            }

            std::vector<std::string> sent = SentTexts();
            std::sort(sent.begin(), sent.end());
            EXPECT_EQ(sent, c.sms);
            std::vector<std::string> mailed = MapiNotes();
            std::sort(mailed.begin(), mailed.end());
            EXPECT_EQ(mailed, mails);
            platform::UnsetEnvironment("VANTREL_TEST_SMS_REFUSE");
        }
    }
}

// One error with both channels on: one SMS per number and one mail, nothing
// more. A second error follows it through both channels; mails leave in
// order, so anything mailed in between would show before it.
TEST_F(BothChannelsTest, OneErrorGivesOneSmsPerNumberAndOneMail) {
    Restart((SmsSettings("+4411, +4422") + SmtpSettings() + kMailSendAll).c_str());
    OutputError2Log(2, "StartQuotesThread(): login failed [login:password fields].");
    const std::string error = "<20261208-09:15:00, Error (2)>: StartQuotesThread(): login failed [login:password fields].";
    EXPECT_EQ(SentTexts(), (std::vector<std::string>{error, error}));
    EXPECT_EQ(WaitForBodies(1), std::vector<std::string>{error});

    OutputError2Log(1, "end");
    const std::string end = "<20261208-09:15:00, Error (1)>: end";
    EXPECT_EQ(WaitForBodies(2), (std::vector<std::string>{error, end}));
    EXPECT_EQ(SentTexts(), (std::vector<std::string>{error, error, end, end}));
    const std::vector<std::string> calls = Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), kCreated), 1);
}

// A set-up that failed (the mail thread could not start) keeps its flag set
// for a retry but leaves its filter dropping every alert: those alerts pass
// the guard without the alert lock, which a thread sending an alert may hold
// for as long as its channel takes. Once the filter is unsettled the guard
// runs the set-up again.
TEST(AlertSetUp, AlertsAFailedSetUpDropsDoNotWaitForTheLock) {
    std::atomic<uint8_t> reinitialise{1};
    AlertFilter filter;
    filter.Publish(false, 0, false);
    std::atomic<int> nInits{0};
    std::promise<void> held;
    std::promise<void> release;
    std::thread holder([&] {
        std::lock_guard<platform::RecursiveMutex> guard(AlertLock());
        held.set_value();
        release.get_future().wait_for(std::chrono::milliseconds(3 * kWaitMs));
    });
    held.get_future().wait();
    std::future<void> alert =
        std::async(std::launch::async, [&] { SetUpOnce(reinitialise, filter, [&] { nInits.fetch_add(1); }); });
    EXPECT_EQ(alert.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready) << "waited for the lock";
    release.set_value();
    holder.join();
    alert.get();
    EXPECT_EQ(nInits.load(), 0);
    EXPECT_EQ(reinitialise.load(), 1);

    filter.Unsettle();
    SetUpOnce(reinitialise, filter, [&] { nInits.fetch_add(1); });
    EXPECT_EQ(nInits.load(), 1);
    EXPECT_EQ(reinitialise.load(), 0);
}

}  // namespace
}  // namespace test
}  // namespace vantrel
