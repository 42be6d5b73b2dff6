// Mail alerts: the one process-wide mail handler.
//
// At the first warning or error the library logs, the handler reads the mail
// settings ("MailSendMail", "MailUseSimpleMAPI", "MailSMTPServerName",
// "MailSMTPServerPortNo", for SMTP "MailSMTPSecurity", "MailSMTPAuth",
// "MailSMTPCAFile" and "MailSMTPVerifyPeer", then "MailProfileName",
// "MailPassword", "MailAddressFrom", "MailAddressTo", "MailSubject",
// "MailFile2Send", "MailSendErrors", "MailErrorsSeverityCode",
// "MailSendWarnings", "MailSendCriticalEvents", in that order) and opens one
// of two transports:
//
//  - Simple MAPI (notify/Mapi.h): the library named by VANTREL_MAPI_LIBRARY,
//    logged on once; each mail goes to the first recipient only, on the
//    thread that logged the alert.
//  - The SMTP client (notify/SMTPConnection.h): the set-up queues a test of
//    the connection for the mail thread (notify/MailRequests.h), which logs
//    the outcome; each mail becomes a request for that thread, so the
//    logging thread only copies it into the queue and never waits on the
//    server. The four SMTP keys
//    are optional and choose the connection's protection and login:
//    "MailSMTPSecurity" none (default: plain text), starttls or tls, and
//    "MailSMTPAuth" login (default), plain or none, each in any letter case;
//    "MailSMTPCAFile", a PEM file of trusted certificates instead of the
//    system's store; "MailSMTPVerifyPeer" (Y/N, default Y), whose N is
//    warned about at set-up when TLS is in use. With "MailSMTPAuth" none the
//    profile name and password are optional. Any other value is an illegal
//    value: mail is then switched off, like any unreadable setting. A file
//    without these keys gives the plain dialogue with AUTH LOGIN.
//
// From then on every warning (when "MailSendWarnings" is on) and every error
// whose severity code is at most the threshold (compared unsigned, so a
// negative threshold lets every code through; when "MailSendErrors" is on)
// becomes one mail whose body is the notification text (notify/AlertText.h).
// Alerts raised on the mail thread itself are logged but never mailed, so a
// mail server that fails cannot feed a storm of mails about its own failures.
//
// Set-up, release and notifications run under AlertLock(), shared with the
// SMS handler. The lock is re-entrant because the handler logs while it holds
// it and that logging comes back here on the same thread; the init-in-progress
// and ready flags make such a nested call do nothing, so the handler's own
// warnings are logged but never mailed.
//
// The mail profile name and password are not kept: the set-up reads them and
// hands them to the transport.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "notify/AlertSetUp.h"
#include "notify/Mapi.h"
#include "notify/SMTPConnection.h"

namespace vantrel {

class CMailHandler;

namespace testing {
// Releases the transport, returns every setting to its initial value and arms
// the set-up again, so that the next warning or error sets the handler up
// afresh. The mail thread, once started, keeps running. Only for tests: no
// other thread may be logging.
void ResetMailHandler();
// The time-outs of the SMTP connection the next set-up opens (the defaults of
// SMTPTimeouts until then). Only for tests.
void SetSMTPTimeouts(const SMTPTimeouts& timeouts);
}  // namespace testing

class CMailHandler {
public:
    // Creates the mail queue and the mail thread's wake event first, so that
    // unload destroys them after the handler, whose destructor still uses
    // them.
    CMailHandler();
    // Releases the transport and closes the handler: a warning or error logged
    // after this, by code still running during unload, is not mailed.
    ~CMailHandler();
    CMailHandler(const CMailHandler&) = delete;
    CMailHandler& operator=(const CMailHandler&) = delete;

    // The set-up: reads the settings and opens the transport, then logs the
    // outcome: the event "CMailHandler::Init(): MAPI DLL is loaded" or
    // "... SMTP server is connected", or a warning saying why not. Throws
    // FIX::Exception ("CMailHandler::Init(): Unable to spawn Mail Requests
    // thread") when the mail thread cannot be started; the handler then sends
    // nothing for the rest of the process.
    void Init();
    // Closes the transport (logging off and unloading the MAPI library, or
    // giving back the SMTP connection), releases the mail queue and empties
    // the recipient list.
    void Release();

    // `text` must not be null.
    void OnError(uint32_t nCode, const char* text);
    void OnWarning(const char* text);

private:
    friend void testing::ResetMailHandler();
    friend CMailHandler& GetMailHandler();  // passes the filter to the set-up guard

    // What the transport logs in with: read by the set-up and handed on.
    struct MailAccount {
        std::string sProfileName;
        std::string sPassword;
        ~MailAccount();
    };

    // Reads the settings in their order; throws as the readers do.
    void ReadSettings(MailAccount& account);
    // Reads the SMTP connection's protection and login keys.
    void ReadSMTPOptions();
    // Connects the SMTP client and starts the mail thread. False when the
    // thread could not be started.
    bool OpenSMTP(const MailAccount& account);
    void LogOutcome();
    bool HasTransport() const noexcept;
    // Mails `body` through the transport. Not ready meanwhile, so that
    // anything logged on this thread while it sends is not mailed in turn.
    void Send(const std::string& body);

    bool m_bInitInProgress = false;
    bool m_bReady = false;
    bool m_bSendMail = false;
    bool m_bUseSimpleMAPI = false;
    std::string m_sSMTPServerName;
    int32_t m_nSMTPServerPortNo = 25;
    SMTPOptions m_smtpOptions;
    std::string m_sAddressFrom;
    std::vector<std::string> m_addressesTo;
    std::string m_sSubject;
    std::string m_sFile2Send;
    bool m_bSendErrors = false;
    int32_t m_nErrorsSeverityCode = 999;
    bool m_bSendWarnings = false;
    bool m_bSendCriticalEvents = false;  // read and kept; no alert uses it
    CMapiSession m_mapi;
    CSMTPConnectionRef m_pSMTPConnection;
    AlertFilter m_filter;
};

// The process-wide handler, set up by the first call. Throws once the handler
// has been destroyed at unload.
CMailHandler& GetMailHandler();

}  // namespace vantrel
