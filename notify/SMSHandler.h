// SMS alerts: the one process-wide SMS handler.
//
// At the first warning or error the library logs, the handler reads the SMS
// settings ("SMSSendSMS", "SMSAPIID", "SMSUsername", "SMSPassword",
// "SMSToMobileNumber", "SMSSendErrors", "SMSErrorsSeverityCode",
// "SMSSendWarnings", "SMSSendCriticalEvents", in that order) and creates the
// gateway (notify/SmsGateway.h). From then on every warning, and every error
// whose severity code is at most the threshold (compared unsigned, so a
// negative threshold lets every code through), is sent to each number in turn
// on the thread that logged it, unless that thread reports in log-only mode
// (LogOnlyAlerts, notify/AlertSetUp.h: the mail thread's steps). Nothing is
// queued or retried; the gateway's result is not examined.
//
// Set-up, release and sending run under AlertLock(), shared with the mail
// handler. The lock is re-entrant because the handler logs while it holds it
// and that logging comes back here on the same thread; the init-in-progress
// and ready flags make such a nested call do nothing, so the handler's own
// warnings are logged but never sent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "notify/AlertSetUp.h"
#include "notify/SmsGateway.h"

namespace vantrel {

class CSMSHandler;

namespace testing {
// Releases the gateway, returns every setting to its initial value and arms
// the set-up again, so that the next warning or error sets the handler up
// afresh. Only for tests: no other thread may be logging.
void ResetSMSHandler();
}  // namespace testing

class CSMSHandler {
public:
    CSMSHandler() = default;
    // Releases the gateway (unloading the plug-in) and closes the handler:
    // a warning or error logged after this, by code still running during
    // unload, is not sent.
    ~CSMSHandler();
    CSMSHandler(const CSMSHandler&) = delete;
    CSMSHandler& operator=(const CSMSHandler&) = delete;

    // The set-up: reads the settings and creates the gateway, then logs the
    // event "CSMSHandler::CSMSHandler(): SMS gateway is connected" or the
    // warning "... is not connected due to problem creating COM-object
    // instance" (sending on, no gateway) or "... due to corvel settings"
    // (sending off, by the settings or because they could not be read).
    void Init();
    // Releases the gateway and empties the number list.
    void Release();

    // `text` must not be null.
    void OnError(uint32_t nCode, const char* text);
    void OnWarning(const char* text);

private:
    friend void testing::ResetSMSHandler();
    friend CSMSHandler& GetSMSHandler();  // passes the filter to the set-up guard

    // Reads the settings in their order; throws as the readers do.
    void ReadSettings();
    void SendToAll(const std::string& body);

    bool m_bInitInProgress = false;
    bool m_bReady = false;
    bool m_bSendSMS = false;
    std::wstring m_apiId;
    std::wstring m_userName;
    std::wstring m_password;
    std::vector<std::wstring> m_numbers;
    bool m_bSendErrors = false;
    int32_t m_nErrorsSeverityCode = 999;
    bool m_bSendWarnings = false;
    bool m_bSendCriticalEvents = false;  // read and kept; no alert uses it
    std::unique_ptr<SmsGateway> m_pGateway;
    AlertFilter m_filter;
};

// The process-wide handler, set up by the first call. Throws once the handler
// has been destroyed at unload.
CSMSHandler& GetSMSHandler();

}  // namespace vantrel
