// Mail alerts end to end inside the test process: a settings file, the log
// facade, a real SMTP server (aiosmtpd) or Simple MAPI (on Linux the
// recording library tests/notify/recording_mapi.c, on Windows the system's).
// Restart() starts the settings, the mail handler and the log afresh, as a
// new process would; the SMS handler is left as set up aside (sending
// nothing) unless a test asks for both channels.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "notify/MailHandler.h"
#include "tests/notify/SmsFixture.h"
#include "tests/support/SmtpTestServer.h"

namespace vantrel {
namespace test {

constexpr const char* kMailPassword = "Sm7p-Pa55";
const std::string kMailSendAll = "MailSendErrors=Y\nMailSendWarnings=Y\n";

// What the set-up logs, and what a login the quotes server refuses logs and
// mails (at the fixture's clock).
const std::string kOutcome = "CMailHandler::Init(): ";
const std::string kNotSendEmail = "Warning: " + kOutcome + "SMTP server is not connected due to \"not send e-mail\" settings";
const std::string kMapiOff = "Warning: " + kOutcome + "MAPI DLL is not loaded due to settings";
const std::string kMapiFailed = "Warning: " + kOutcome + "MAPI DLL is not loaded due to LoadLibrary() failure";
const std::string kMapiLoaded = "event: " + kOutcome + "MAPI DLL is loaded";
const std::string kStamp = "<20261208-09:15:00, ";
const std::string kLoginRefusedError = "Error (2): StartQuotesThread(): login failed [login:password fields].";
const std::string kLoginRefusedMail = kStamp + "Error (2)>: StartQuotesThread(): login failed [login:password fields].";

class MailHandlerFixture : public SmsFixture {
protected:
    void SetUp() override {
#if !defined(_WIN32)
        platform::SetEnvironment("VANTREL_MAPI_LIBRARY", VANTREL_RECORDING_MAPI);
#endif
        platform::SetEnvironment("VANTREL_TEST_MAPI_RECORD", mapiRecordFile.c_str());
        SmsFixture::SetUp();
    }

    void TearDown() override {
        SmsFixture::TearDown();
        // The password may reach the server (AUTH) and the MAPI logon, never
        // a log line or a mail.
        EXPECT_EQ(m_sLogSeen.find(kMailPassword), std::string::npos) << "the mail password reached the log";
        ExpectNoPasswordInMails();
        platform::UnsetEnvironment("VANTREL_MAPI_LIBRARY");
        platform::UnsetEnvironment("VANTREL_TEST_MAPI_RECORD");
        platform::UnsetEnvironment("VANTREL_TEST_MAPI_LOGON_RESULT");
        platform::UnsetEnvironment("VANTREL_TEST_MAPI_SEND_RESULT");
    }

    void ResetHandlers() override {
        // Whatever the log held so far is kept for the password check, since
        // Restart() empties the log directory.
        m_sLogSeen += LogText();
        vantrel::testing::ResetMailHandler();
        if (bBothChannels) vantrel::testing::ResetSMSHandler();
        std::filesystem::remove(mapiRecordFile);
    }

    // The SMTP test server, started on first use (one per test, unless
    // StartSmtp starts another).
    SmtpTestServer& Smtp() {
        if (!m_pSmtp) m_pSmtp = std::make_unique<SmtpTestServer>("alerts", kMailPassword);
        return *m_pSmtp;
    }

    // Replaces the SMTP test server by one with `auth` and `arguments` (see
    // SmtpTestServer); the mails of the one it replaces are checked first.
    SmtpTestServer& StartSmtp(const std::string& auth, const std::vector<std::string>& arguments) {
        ExpectNoPasswordInMails();
        m_pSmtp.reset();
        m_pSmtp = std::make_unique<SmtpTestServer>("alerts", kMailPassword, auth, arguments);
        return *m_pSmtp;
    }

    // Settings that send mail through the test server, reached as `host`,
    // without the switches for errors and warnings; without "MailProfileName"
    // and "MailPassword" unless `bAccount`.
    std::string SmtpSettings(const std::string& addressesTo = "ops@example.org", const std::string& host = "127.0.0.1",
                             bool bAccount = true) {
        return "FlushFlag=N\nMailSendMail=Y\nMailUseSimpleMAPI=N\nMailSMTPServerName=" + host +
               "\nMailSMTPServerPortNo=" + std::to_string(Smtp().port()) +
               (bAccount ? "\nMailProfileName=alerts\nMailPassword=" + std::string(kMailPassword) : std::string()) +
               "\nMailAddressFrom=feed@example.org\nMailAddressTo=" + addressesTo + "\n";
    }

    // Settings that send mail through the recording MAPI library.
    static std::string MapiSettings(const std::string& addressesTo = "ops@example.org") {
        return std::string("FlushFlag=N\nMailSendMail=Y\nMailUseSimpleMAPI=Y\nMailProfileName=Ops Profile\n"
                           "MailPassword=") + kMailPassword + "\nMailAddressTo=" + addressesTo + "\n";
    }

    // The decoded bodies of the mails received so far.
    std::vector<std::string> MailBodies() {
        std::vector<std::string> bodies;
        for (const ReceivedMail& mail : Smtp().Mails()) bodies.push_back(FromHex(mail.First("body_hex")));
        return bodies;
    }

    // Waits until `count` mails in all have arrived; their bodies.
    std::vector<std::string> WaitForBodies(std::size_t count) {
        EXPECT_TRUE(Smtp().WaitForMails(count)) << "only " << Smtp().Mails().size() << " mails";
        return MailBodies();
    }

    // The recording MAPI library's lines, fields joined by "|".
    std::vector<std::string> MapiCalls() const { return RecordedCalls(mapiRecordFile); }

    // The note texts of the MAPI mails sent, in order.
    std::vector<std::string> MapiNotes() const {
        std::vector<std::string> notes;
        for (const std::string& call : MapiCalls()) {
            if (call.rfind("message|", 0) == 0) {
                const std::string::size_type at = call.find('|', 8) + 1;
                notes.push_back(call.substr(at, call.find('|', at) - at));
            }
        }
        return notes;
    }

    // The log lines the mail handler and the test wrote: the SMS handler's
    // and the mail queue's bookkeeping left out.
    std::vector<std::string> MailLogLines() const {
        std::vector<std::string> lines;
        for (const std::string& line : LogLines()) {
            if (line.find("CSMSHandler") == std::string::npos &&
                line.rfind("event: CMailRequestsContainer::", 0) != 0 &&
                line.rfind("event: StartMailRequestsThread()", 0) != 0) {
                lines.push_back(line);
            }
        }
        return lines;
    }

    // The warnings and errors of MailLogLines(), with the mail handler's own
    // events: what a session's events (Login's) would hide.
    std::vector<std::string> AlertLines() const {
        std::vector<std::string> lines;
        for (const std::string& line : MailLogLines()) {
            if (line.rfind("event: ", 0) != 0 || line.find("CMailHandler") != std::string::npos) lines.push_back(line);
        }
        return lines;
    }

    bool bBothChannels = false;
    std::string mapiRecordFile = dir / "mapi.record";

private:
    void ExpectNoPasswordInMails() {
        if (!m_pSmtp) return;
        for (const ReceivedMail& mail : m_pSmtp->Mails()) {
            EXPECT_EQ(FromHex(mail.First("body_hex")).find(kMailPassword), std::string::npos);
            for (const std::string& header : mail.All("header")) {
                EXPECT_EQ(header.find(kMailPassword), std::string::npos) << header;
            }
        }
    }

    std::unique_ptr<SmtpTestServer> m_pSmtp;
    std::string m_sLogSeen;
};

// The MAPI session handle the recording library hands out, as recorded.
inline std::string RecordedSession() {
    return sizeof(void*) > 4 ? std::to_string(0x5E55104F00ull) : std::to_string(0x5E55104Full);
}

}  // namespace test
}  // namespace vantrel
