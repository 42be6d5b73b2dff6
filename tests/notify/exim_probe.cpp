// The client side of the exim suite (exim_test.py), built from the library's
// internals. Usage:
//   notify_exim_probe certs
//       prints the test certificates' paths (CA, key, localhost certificate),
//       one a line, and keeps them until stdin closes;
//   notify_exim_probe send <settings file>
//       reads the server and mail settings, sends one alert as the mail
//       thread sends a queued one (a failed send reconnects and tries
//       once more), prints "sent" or "failed: <last reply>", and closes;
//   notify_exim_probe alert <settings file>
//       logs an error, which the mail handler sends through its own mail
//       thread, and returns from main (the library's teardown) when stdin
//       closes.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "config/Config.h"
#include "log/LogFacade.h"
#include "notify/AlertText.h"
#include "notify/MailRequests.h"
#include "tests/support/TestCertificates.h"

namespace {

const char* const kAlert = "exim probe: the quotes feed is down";

void WaitForStdinToClose() {
    std::string line;
    while (std::getline(std::cin, line)) {
    }
}

int SendOnce();

}  // namespace

int main(int argc, char** argv) {
    using namespace vantrel;
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "certs" && argc == 2) {
        const test::TestCertificates& certificates = test::GetTestCertificates();
        std::cout << certificates.sCAFile << '\n' << certificates.sKey << '\n' << certificates.sLocalhost << std::endl;
        WaitForStdinToClose();
        return 0;
    }
    if ((mode != "send" && mode != "alert") || argc != 3) {
        std::fprintf(stderr, "usage: %s certs | send <settings> | alert <settings>\n", argv[0]);
        return 64;
    }
    ::setenv("VANTREL_CONFIG", argv[2], 1);
    if (mode == "alert") {
        OutputError2Log(1, kAlert);
        WaitForStdinToClose();
        return 0;
    }
    return SendOnce();
}

namespace {

std::string Setting(const char* key) {
    std::string value;
    vantrel::GetConfigString(key, value);
    return value;
}

int SendOnce() {
    using namespace vantrel;
    SMTPOptions options;
    const std::string security = Setting("MailSMTPSecurity");
    options.security = security == "starttls" ? SMTPOptions::Security::StartTls
                       : security == "tls"    ? SMTPOptions::Security::Tls
                                              : SMTPOptions::Security::None;
    const std::string auth = Setting("MailSMTPAuth");
    options.auth = auth == "plain" ? SMTPOptions::Auth::Plain
                   : auth == "none" ? SMTPOptions::Auth::None
                                    : SMTPOptions::Auth::Login;
    options.peer.sCAFile = Setting("MailSMTPCAFile");
    int32_t port = 25;
    GetConfigLong("MailSMTPServerPortNo", port);
    CMailRequest request;
    request.pSMTPConnection = CSMTPConnectionRef(new CSMTPConnection(Setting("MailSMTPServerName"), port,
                                                                     Setting("MailProfileName"),
                                                                     Setting("MailPassword"), options));
    request.sSender = Setting("MailAddressFrom");
    request.recipients = SplitAlertList(Setting("MailAddressTo"));
    request.sSubject = Setting("MailSubject");
    request.sBody = kAlert;
    const std::string attachment = Setting("MailFile2Send");
    if (!attachment.empty()) request.attachmentPath = attachment;
    // As the mail thread does: connect first, then send (reconnecting once).
    request.pSMTPConnection->Connect();
    const bool bSent = request.SendMail();
    std::cout << (bSent ? std::string("sent") : "failed: " + request.pSMTPConnection->GetLastCommandResponse())
              << std::endl;
    return bSent ? 0 : 1;
}

}  // namespace
