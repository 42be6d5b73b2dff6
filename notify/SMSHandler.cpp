#include "notify/SMSHandler.h"

#include <mutex>
#include <stdexcept>

#include "config/Config.h"
#include "log/LogFacade.h"
#include "log/UtcTime.h"
#include "notify/AlertSetUp.h"
#include "notify/AlertText.h"

namespace vantrel {
namespace {

// Set at load; the first GetSMSHandler runs the set-up and clears it.
std::atomic<uint8_t> g_bSMSReinitialise{1};
// Set when the handler is destroyed at unload.
std::atomic<bool> g_bSMSHandlerClosed{false};

CSMSHandler& TheHandler() {
    static CSMSHandler handler;
    return handler;
}

std::string Outcome(const char* text) {
    return std::string("CSMSHandler::CSMSHandler(): SMS gateway is ") + text;
}

}  // namespace

CSMSHandler& GetSMSHandler() {
    if (g_bSMSHandlerClosed.load()) {
        throw std::logic_error("the SMS handler is closed");
    }
    CSMSHandler& handler = TheHandler();
    SetUpOnce(g_bSMSReinitialise, handler.m_filter, [&handler] { handler.Init(); });
    return handler;
}

CSMSHandler::~CSMSHandler() {
    std::lock_guard<platform::RecursiveMutex> guard(AlertLock());
    g_bSMSHandlerClosed.store(true);
    m_filter.Unsettle();
    try {
        Release();
    } catch (...) {
    }
}

void CSMSHandler::Init() {
    std::lock_guard<platform::RecursiveMutex> guard(AlertLock());
    if (m_bInitInProgress || g_bSMSHandlerClosed.load()) {
        return;
    }
    m_bInitInProgress = true;
    m_filter.Unsettle();
    // Whatever happens below, the set-up ends with the handler ready.
    struct Finish {
        CSMSHandler& handler;
        ~Finish() {
            handler.m_bReady = true;
            handler.m_bInitInProgress = false;
            const bool bGateway = static_cast<bool>(handler.m_pGateway);
            handler.m_filter.Publish(bGateway && handler.m_bSendErrors, handler.m_nErrorsSeverityCode,
                                     bGateway && handler.m_bSendWarnings);
        }
    } finish{*this};

    Release();
    m_bReady = false;

    if (!ReadAlertSettings("CSMSHandler", [this] { ReadSettings(); })) {
        m_bSendSMS = false;
    }

    if (m_bSendSMS) {
        m_pGateway = SmsGateway::Create();
    }
    if (m_pGateway) {
        OutputEvent2Log(Outcome("connected"));
    } else if (m_bSendSMS) {
        OutputWarning2Log(Outcome("not connected due to problem creating COM-object instance"));
    } else {
        OutputWarning2Log(Outcome("not connected due to corvel settings"));
    }
}

void CSMSHandler::ReadSettings() {
    GetConfigBool("SMSSendSMS", m_bSendSMS);
    if (!m_bSendSMS) {
        return;
    }
    std::string value;
    LoadConfigString("SMSAPIID", value);
    m_apiId = GatewayText(value);
    LoadConfigString("SMSUsername", value);
    m_userName = GatewayText(value);
    LoadConfigString("SMSPassword", value);
    m_password = GatewayText(value);
    LoadConfigString("SMSToMobileNumber", value);
    for (const std::string& number : SplitAlertList(value)) {
        m_numbers.push_back(GatewayText(number));
    }
    if (m_numbers.empty()) {
        m_bSendSMS = false;
    }
    GetConfigBool("SMSSendErrors", m_bSendErrors);
    GetConfigLong("SMSErrorsSeverityCode", m_nErrorsSeverityCode);
    GetConfigBool("SMSSendWarnings", m_bSendWarnings);
    GetConfigBool("SMSSendCriticalEvents", m_bSendCriticalEvents);
}

void CSMSHandler::Release() {
    std::lock_guard<platform::RecursiveMutex> guard(AlertLock());
    m_filter.Close();
    if (m_pGateway) {
        m_pGateway.reset();
        OutputEvent2Log("CSMSHandler::Release(): SMS gateway is released.");
    }
    m_numbers.clear();
}

void CSMSHandler::OnError(uint32_t nCode, const char* text) {
    if (g_bSMSHandlerClosed.load() || AlertsAreLogOnly() || m_filter.DropsError(nCode)) {
        return;
    }
    std::lock_guard<platform::RecursiveMutex> guard(AlertLock());
    if (g_bSMSHandlerClosed.load() || !m_bReady || !m_pGateway || !m_bSendErrors ||
        nCode > static_cast<uint32_t>(m_nErrorsSeverityCode)) {
        return;
    }
    SendToAll(ErrorAlertBody(nCode, text, UtcTime::Now()));
}

void CSMSHandler::OnWarning(const char* text) {
    if (g_bSMSHandlerClosed.load() || AlertsAreLogOnly() || m_filter.DropsWarning()) {
        return;
    }
    std::lock_guard<platform::RecursiveMutex> guard(AlertLock());
    if (g_bSMSHandlerClosed.load() || !m_bReady || !m_pGateway || !m_bSendWarnings) {
        return;
    }
    SendToAll(WarningAlertBody(text, UtcTime::Now()));
}

void CSMSHandler::SendToAll(const std::string& body) {
    const NotReadyWhileSending sending(m_bReady);

    const std::wstring text = GatewayText(body);
    for (const std::wstring& number : m_numbers) {
        m_pGateway->Send(m_apiId, m_userName, m_password, number, text);
    }
}

namespace testing {

void ResetSMSHandler() {
    std::lock_guard<platform::RecursiveMutex> guard(AlertLock());
    CSMSHandler& handler = TheHandler();
    handler.m_filter.Unsettle();
    handler.Release();
    handler.m_bInitInProgress = false;
    handler.m_bReady = false;
    handler.m_bSendSMS = false;
    handler.m_apiId.clear();
    handler.m_userName.clear();
    handler.m_password.clear();
    handler.m_bSendErrors = false;
    handler.m_nErrorsSeverityCode = 999;
    handler.m_bSendWarnings = false;
    handler.m_bSendCriticalEvents = false;
    g_bSMSReinitialise.store(1);
}

}  // namespace testing
}  // namespace vantrel
