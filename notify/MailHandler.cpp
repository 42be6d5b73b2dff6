#include "notify/MailHandler.h"

#include <mutex>
#include <stdexcept>

#include <quickfix/Exceptions.h>

#include "config/Config.h"
#include "log/LogFacade.h"
#include "log/UtcTime.h"
#include "notify/AlertText.h"
#include "notify/MailAddressParser.h"
#include "notify/MailRequests.h"

namespace vantrel {
namespace {

// Set at load; the first GetMailHandler runs the set-up and clears it.
std::atomic<uint8_t> g_bMailReinitialise{1};
// Set when the handler is destroyed at unload.
std::atomic<bool> g_bMailHandlerClosed{false};
// The SMTP connection's time-outs; tests make them small.
SMTPTimeouts g_smtpTimeouts;

const char kSMTPConnected[] = "CMailHandler::Init(): SMTP server is connected";

CMailHandler& TheHandler() {
    static CMailHandler handler;
    return handler;
}

// A mail setting goes into header lines and SMTP commands: CR, LF or NUL in
// it would end them early and add lines of the value's choosing (a Bcc header,
// a command). Such a value is an illegal one, as a Boolean other than Y or N
// is; the text leaves the value out, since it may be the password.
void RequireOneLine(const char* key, const std::string& value) {
    if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
        throw FIX::ConfigError(std::string("Illegal value (a line break or NUL) for ") + key);
    }
}

std::string RequireAddress(const char* key, const std::string& value) {
    std::string name;
    std::string address;
    if (!ParseMailAddress(value, name, address)) throw FIX::ConfigError("Illegal value " + value + " for " + key);
    return address;
}

void Wipe(std::string& secret) noexcept {
    volatile char* p = secret.data();
    for (std::size_t i = 0; i < secret.size(); ++i) p[i] = '\0';
}

}  // namespace

CMailHandler& GetMailHandler() {
    if (g_bMailHandlerClosed.load()) {
        throw std::logic_error("the mail handler is closed");
    }
    CMailHandler& handler = TheHandler();
    SetUpOnce(g_bMailReinitialise, handler.m_filter, [&handler] { handler.Init(); });
    return handler;
}

CMailHandler::MailAccount::~MailAccount() {
    Wipe(sPassword);
    Wipe(sProfileName);
}

CMailHandler::CMailHandler() {
    GetMailRequestsContainer();
    MailThreadWakeEvent();
}

CMailHandler::~CMailHandler() {
    std::lock_guard<platform::RecursiveMutex> guard(AlertLock());
    g_bMailHandlerClosed.store(true);
    m_filter.Unsettle();
    try {
        Release();
    } catch (...) {
    }
}

void CMailHandler::Init() {
    std::lock_guard<platform::RecursiveMutex> guard(AlertLock());
    if (m_bInitInProgress || g_bMailHandlerClosed.load()) {
        return;
    }
    m_bInitInProgress = true;
    m_filter.Unsettle();
    Release();
    m_bReady = false;

    MailAccount account;
    if (!ReadAlertSettings("CMailHandler", [&] { ReadSettings(account); })) {
        m_bSendMail = false;
    }

    if (m_bSendMail && m_bUseSimpleMAPI) {
        m_mapi.Open(account.sProfileName, account.sPassword);
    } else if (m_bSendMail && !OpenSMTP(account)) {
        // Stays not ready and in progress: nothing is mailed for the rest of
        // the process, and nobody waits for the lock to learn it.
        m_filter.Publish(false, 0, false);
        throw FIX::Exception("CMailHandler::Init()", "Unable to spawn Mail Requests thread");
    }
    LogOutcome();

    m_bReady = true;
    m_bInitInProgress = false;
    m_filter.Publish(HasTransport() && m_bSendErrors, m_nErrorsSeverityCode, HasTransport() && m_bSendWarnings);
}

void CMailHandler::ReadSettings(MailAccount& account) {
    GetConfigBool("MailSendMail", m_bSendMail);
    if (!m_bSendMail) {
        return;
    }
    LoadConfigBool("MailUseSimpleMAPI", m_bUseSimpleMAPI);
    if (!m_bUseSimpleMAPI) {
        LoadConfigString("MailSMTPServerName", m_sSMTPServerName);
        RequireOneLine("MailSMTPServerName", m_sSMTPServerName);
    }
    GetConfigLong("MailSMTPServerPortNo", m_nSMTPServerPortNo);
    if (!m_bUseSimpleMAPI) {
        ReadSMTPOptions();
    }
    // Simple MAPI may log on without them, and a relay without AUTH needs
    // none.
    if (m_bUseSimpleMAPI || m_smtpOptions.auth == SMTPOptions::Auth::None) {
        GetConfigString("MailProfileName", account.sProfileName);
        GetConfigString("MailPassword", account.sPassword);
    } else {
        LoadConfigString("MailProfileName", account.sProfileName);
        LoadConfigString("MailPassword", account.sPassword);
    }
    RequireOneLine("MailProfileName", account.sProfileName);
    RequireOneLine("MailPassword", account.sPassword);
    if (!m_bUseSimpleMAPI) {
        LoadConfigString("MailAddressFrom", m_sAddressFrom);
        // "Name <address>": the name for the From header, the address alone
        // for the envelope.
        RequireAddress("MailAddressFrom", m_sAddressFrom);
    }
    std::string addressesTo;
    LoadConfigString("MailAddressTo", addressesTo);
    RequireOneLine("MailAddressTo", addressesTo);
    m_addressesTo = SplitAlertList(addressesTo);
    for (std::string& recipient : m_addressesTo) recipient = RequireAddress("MailAddressTo", recipient);
    if (m_addressesTo.empty()) {
        m_bSendMail = false;
    }
    GetConfigString("MailSubject", m_sSubject);
    RequireOneLine("MailSubject", m_sSubject);
    GetConfigString("MailFile2Send", m_sFile2Send);
    RequireOneLine("MailFile2Send", m_sFile2Send);
    GetConfigBool("MailSendErrors", m_bSendErrors);
    GetConfigLong("MailErrorsSeverityCode", m_nErrorsSeverityCode);
    GetConfigBool("MailSendWarnings", m_bSendWarnings);
    GetConfigBool("MailSendCriticalEvents", m_bSendCriticalEvents);
}

void CMailHandler::ReadSMTPOptions() {
    using Security = SMTPOptions::Security;
    using Auth = SMTPOptions::Auth;
    static constexpr Security kSecurities[] = {Security::None, Security::StartTls, Security::Tls};
    static constexpr Auth kAuths[] = {Auth::Login, Auth::Plain, Auth::None};
    std::size_t nChoice = 0;
    if (GetConfigChoice("MailSMTPSecurity", {"none", "starttls", "tls"}, nChoice)) {
        m_smtpOptions.security = kSecurities[nChoice];
    }
    if (GetConfigChoice("MailSMTPAuth", {"login", "plain", "none"}, nChoice)) {
        m_smtpOptions.auth = kAuths[nChoice];
    }
    GetConfigString("MailSMTPCAFile", m_smtpOptions.peer.sCAFile);
    RequireOneLine("MailSMTPCAFile", m_smtpOptions.peer.sCAFile);
    GetConfigBool("MailSMTPVerifyPeer", m_smtpOptions.peer.bVerifyPeer);
}

bool CMailHandler::OpenSMTP(const MailAccount& account) {
    if (m_smtpOptions.security != SMTPOptions::Security::None && !m_smtpOptions.peer.bVerifyPeer) {
        // Logged once, at set-up: a lab relay may be fine, a production one not.
        OutputWarning2Log("CMailHandler::Init(): the SMTP server's certificate is not verified "
                          "(MailSMTPVerifyPeer=N): a server posing as " + m_sSMTPServerName +
                          " would receive the mails" +
                          (m_smtpOptions.auth != SMTPOptions::Auth::None ? " and the login" : ""));
    }
    m_smtpOptions.timeouts = g_smtpTimeouts;
    m_pSMTPConnection = CSMTPConnectionRef(new CSMTPConnection(
        m_sSMTPServerName, m_nSMTPServerPortNo, account.sProfileName, account.sPassword, m_smtpOptions));
    // The wake event cuts a wait short when the library unloads.
    m_pSMTPConnection->SetWakeEvent(&MailThreadWakeEvent());
    GetMailRequestsContainer().AddRef();
    // The server is first reached from the mail thread, ahead of every mail:
    // a slow or hostile server must not hold the thread that logged the first
    // alert (a host thread, maybe inside Login) nor, through the alert lock,
    // every thread that logs after it. The outcome is logged there, after the
    // test, in the order a test here would have logged it.
    CMailRequest test;
    test.pSMTPConnection = m_pSMTPConnection;
    test.connectionTest = [](CSMTPConnection& connection) {
        if (!connection.Connect()) {
            // Kept all the same: each mail connects again before it is sent.
            OutputWarning2Log("CMailHandler::Init(): Failed to connect to the SMTP server: " +
                              connection.DescribeLastFailure());
        }
        OutputEvent2Log(kSMTPConnected);
    };
    GetMailRequestsContainer().AddRequest(test);
    return LaunchMailRequestsThread();
}

void CMailHandler::LogOutcome() {
    std::string text = "CMailHandler::Init(): ";
    if (m_bUseSimpleMAPI) {
        const bool bLoaded = m_mapi.SendEntry() != nullptr;
        text += bLoaded ? "MAPI DLL is loaded"
                        : m_bSendMail ? "MAPI DLL is not loaded due to LoadLibrary() failure"
                                      : "MAPI DLL is not loaded due to settings";
    } else {
        // Set up: the mail thread logs kSMTPConnected after its connection test.
        if (m_pSMTPConnection) return;
        text += m_bSendMail ? "SMTP server is not connected due to incorrect e-mail settings"
                            : "SMTP server is not connected due to \"not send e-mail\" settings";
    }
    if (HasTransport()) {
        OutputEvent2Log(text);
    } else {
        OutputWarning2Log(text);
    }
}

bool CMailHandler::HasTransport() const noexcept {
    return m_bUseSimpleMAPI ? m_mapi.SendEntry() != nullptr : static_cast<bool>(m_pSMTPConnection);
}

void CMailHandler::Release() {
    std::lock_guard<platform::RecursiveMutex> guard(AlertLock());
    m_filter.Close();
    if (m_mapi.Close()) {
        OutputEvent2Log("CMailHandler::Release(): MAPI DLL is released.");
    }
    GetMailRequestsContainer().Release();
    if (m_pSMTPConnection) {
        m_pSMTPConnection = CSMTPConnectionRef();
        // The mail thread may hold it too: woken, it closes it once nobody
        // else does. No logging thread waits for a QUIT.
        GetMailRequestsContainer().WakeConsumer();
        OutputEvent2Log("CMailHandler::Release(): SMTP server is disconnected");
    }
    m_addressesTo.clear();
}

void CMailHandler::OnError(uint32_t nCode, const char* text) {
    if (g_bMailHandlerClosed.load() || IsMailThread() || m_filter.DropsError(nCode)) {
        return;
    }
    std::lock_guard<platform::RecursiveMutex> guard(AlertLock());
    if (g_bMailHandlerClosed.load() || !m_bReady || !m_bSendErrors ||
        nCode > static_cast<uint32_t>(m_nErrorsSeverityCode) || !HasTransport()) {
        return;
    }
    Send(ErrorAlertBody(nCode, text, UtcTime::Now()));
}

void CMailHandler::OnWarning(const char* text) {
    if (g_bMailHandlerClosed.load() || IsMailThread() || m_filter.DropsWarning()) {
        return;
    }
    std::lock_guard<platform::RecursiveMutex> guard(AlertLock());
    if (g_bMailHandlerClosed.load() || !m_bReady || !m_bSendWarnings || !HasTransport()) {
        return;
    }
    Send(WarningAlertBody(text, UtcTime::Now()));
}

void CMailHandler::Send(const std::string& body) {
    const NotReadyWhileSending sending(m_bReady);

    const char* attachment = m_sFile2Send.empty() ? nullptr : m_sFile2Send.c_str();
    if (m_bUseSimpleMAPI) {
        SendMAPIMail(m_mapi.SendEntry(), m_mapi.Session(), m_addressesTo.front(), m_sSubject.c_str(), body.c_str(),
                     attachment);
        return;
    }
    CMailRequest request;
    request.pSMTPConnection = m_pSMTPConnection;
    request.sSender = m_sAddressFrom;
    request.recipients = m_addressesTo;
    request.sSubject = m_sSubject;
    request.sBody = body;
    if (attachment != nullptr) {
        request.attachmentPath = m_sFile2Send;
    }
    GetMailRequestsContainer().AddRequest(request);
}

namespace testing {

void ResetMailHandler() {
    CMailHandler& handler = TheHandler();
    {
        std::lock_guard<platform::RecursiveMutex> guard(AlertLock());
        handler.m_filter.Unsettle();
        handler.Release();
    }
    // As a new process would: the connection the handler gave back is closed
    // before the next test's server replaces this one's. Outside the lock,
    // which the mail thread may need to report how the closing went.
    WaitUntilMailThreadHoldsNoConnection(60000);
    std::lock_guard<platform::RecursiveMutex> guard(AlertLock());
    handler.m_bInitInProgress = false;
    handler.m_bReady = false;
    handler.m_bSendMail = false;
    handler.m_bUseSimpleMAPI = false;
    handler.m_sSMTPServerName.clear();
    handler.m_nSMTPServerPortNo = 25;
    handler.m_smtpOptions = SMTPOptions();
    handler.m_sAddressFrom.clear();
    handler.m_sSubject.clear();
    handler.m_sFile2Send.clear();
    handler.m_bSendErrors = false;
    handler.m_nErrorsSeverityCode = 999;
    handler.m_bSendWarnings = false;
    handler.m_bSendCriticalEvents = false;
    g_bMailReinitialise.store(1);
}

void SetSMTPTimeouts(const SMTPTimeouts& timeouts) { g_smtpTimeouts = timeouts; }

}  // namespace testing
}  // namespace vantrel
