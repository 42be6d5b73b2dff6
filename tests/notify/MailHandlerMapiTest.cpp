// Mail alerts through Simple MAPI: the recording library
// (tests/notify/recording_mapi.c) named by VANTREL_MAPI_LIBRARY.
#include <filesystem>

#include "tests/notify/MailHandlerFixture.h"

namespace vantrel {
namespace test {
namespace {

// A library that cannot be used leaves the handler without a transport: the
// first warning sets it up, the later error is not mailed, and the outcome
// says why.
TEST_F(MailHandlerFixture, AMapiLibraryThatCannotBeUsedSendsNothing) {
    const struct {
        const char* name;
        const char* library;  // VANTREL_MAPI_LIBRARY, nullptr: unset
        const char* control;  // "NAME=value" for the recording library, or ""
    } cases[] = {
        {"not named", nullptr, ""},
        {"does not load", "/nonexistent/mapi.so", ""},
        {"without the entries", VANTREL_GATEWAY_WITHOUT_FACTORY, ""},
        {"logon refused", VANTREL_RECORDING_MAPI, "VANTREL_TEST_MAPI_LOGON_RESULT=3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> expected =
            LogFirstAlerts(MapiSettings() + kMailSendAll, "VANTREL_MAPI_LIBRARY", c.library, c.control, {kMapiFailed});
        EXPECT_EQ(MailLogLines(), expected);
        EXPECT_EQ(MapiNotes(), std::vector<std::string>());
        platform::UnsetEnvironment("VANTREL_TEST_MAPI_LOGON_RESULT");
    }
    // The refused logon was the only call.
    EXPECT_EQ(MapiCalls(), (std::vector<std::string>{"logon|0|Ops Profile|" + std::string(kMailPassword) + "|2|0|3"}));
}

// Only the first recipient gets a MAPI mail; subject and body are cut to 79
// characters; the attachment goes as its path and its base name. Without a
// subject the mail has an empty one.
TEST_F(MailHandlerFixture, MapiMailGoesToTheFirstRecipientWithItsTextsCut) {
    const std::string subject = "Quotes feed alert: " + std::string(80, 's');
    const std::string text = "StartQuotesThread(): " + std::string(80, 't');
    const std::string body = kStamp + "Warning>: " + text;
    const struct {
        const char* name;
        std::string settings;
        std::string message;
        std::vector<std::string> files;
    } cases[] = {
        {"subject and file", "MailSubject=" + subject + "\nMailFile2Send=/var/reports/daily report.txt\n",
         "message|" + subject.substr(0, 79) + "|" + body.substr(0, 79) + "|(null)|(null)|(null)|0|(null)|1|1",
         {"file|0|-1|/var/reports/daily report.txt|daily report.txt|(null)"}},
        {"neither", "", "message||" + body.substr(0, 79) + "|(null)|(null)|(null)|0|(null)|1|0", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Restart((MapiSettings("first@example.org, second@example.org") + c.settings + kMailSendAll).c_str());
        OutputWarning2Log(text);
        vantrel::testing::ResetMailHandler();

        std::vector<std::string> expected = {
            "logon|0|Ops Profile|" + std::string(kMailPassword) + "|2|0|0",
            "send|" + RecordedSession() + "|0|0|0|0",
            c.message,
            "recipient|1|Corvel Technical Support|SMTP:first@example.org|0",
        };
        expected.insert(expected.end(), c.files.begin(), c.files.end());
        expected.push_back("logoff|" + RecordedSession() + "|0|0|0");
        EXPECT_EQ(MapiCalls(), expected);
        EXPECT_EQ(MailLogLines(), (std::vector<std::string>{"Warning: " + text, kMapiLoaded,
                                                            "event: CMailHandler::Release(): MAPI DLL is released."}));
    }
}

// MAPI results 0, 1 (user abort) and 3 (login failure) count as sent; any
// other is a warning, logged and not mailed in turn. An address of 74
// characters fits the address field ("SMTP:" and a terminator make 80); a
// longer one is refused, never cut or written past the field.
TEST_F(MailHandlerFixture, MapiResultsAndAddressLengths) {
    const std::string fits = std::string(62, 'a') + "@example.org";
    const std::string tooLong = "b" + fits;
    ASSERT_EQ(fits.size(), 74u);
    const struct {
        const std::string& address;
        const char* result;
        std::vector<std::string> warnings;
        std::size_t nSends;
    } cases[] = {
        {fits, "0", {}, 1},
        {fits, "1", {}, 1},
        {fits, "3", {}, 1},
        {fits, "2", {"Warning: Failed to send e-mail using MAPISendMail function."}, 1},
        {tooLong, "0",
         {"Warning: SendMAPIMail(): the recipient address has 75 characters, more than the 74 that fit; no mail sent to " +
          tooLong},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address.size());
        SCOPED_TRACE(c.result);
        Restart((MapiSettings(c.address) + kMailSendAll).c_str());
        platform::SetEnvironment("VANTREL_TEST_MAPI_SEND_RESULT", c.result);
        OutputError2Log(1, "e1");

        std::vector<std::string> expected = {"Error (1): e1", kMapiLoaded};
        expected.insert(expected.end(), c.warnings.begin(), c.warnings.end());
        EXPECT_EQ(MailLogLines(), expected);
        std::vector<std::string> recipients;
        for (const std::string& call : MapiCalls()) {
            if (call.rfind("recipient|", 0) == 0) recipients.push_back(call);
        }
        EXPECT_EQ(recipients, std::vector<std::string>(
                                  c.nSends, "recipient|1|Corvel Technical Support|SMTP:" + c.address + "|0"));
    }
}

// A log that cannot be written drops its line, and the alert still goes out.
TEST_F(MailHandlerFixture, AlertsGoOutWhenTheLogCannotBeWritten) {
    Restart((MapiSettings() + "MailSendErrors=Y\n").c_str());
    OutputError2Log(2, "logged");

    // The day's event file cannot be opened after midnight.
    std::filesystem::create_directory(logDir.path() + "/GLOBAL20261209.event.log");
    clock.set(EpochMillis(2026, 12, 9, 0, 0, 1));
    OutputError2Log(2, "after midnight");
    OutputError2Log(2, "and again");

    // The log directory cannot be created at all.
    const std::string blocked = dir / "blocked";
    WriteFile(blocked, "a file where the directory should be");
    platform::SetEnvironment("VANTREL_LOG_DIR", (blocked + "/log").c_str());
    vantrel::testing::ResetFileLog();
    OutputError2Log(2, "no log");
    platform::SetEnvironment("VANTREL_LOG_DIR", logDir.path().c_str());
    vantrel::testing::ResetFileLog();
    std::filesystem::remove(logDir.path() + "/GLOBAL20261209.event.log");

    EXPECT_EQ(MapiNotes(), (std::vector<std::string>{
                               kStamp + "Error (2)>: logged",
                               "<20261209-00:00:01, Error (2)>: after midnight",
                               "<20261209-00:00:01, Error (2)>: and again",
                               "<20261209-00:00:01, Error (2)>: no log",
                           }));
}

}  // namespace
}  // namespace test
}  // namespace vantrel
