#include "notify/AlertSetUp.h"

#include <memory>
#include <string>

#include <quickfix/Exceptions.h>

#include "log/LogFacade.h"

namespace vantrel {
namespace {

void ReportSettingsError(const char* reporter, const char* text, const char* detail = "") noexcept {
    try {
        OutputError2Log(3, std::string(reporter) + text + detail);
    } catch (...) {
    }
}

}  // namespace

bool ReadAlertSettings(const char* reporter, const std::function<void()>& read) noexcept {
    try {
        read();
        return true;
    } catch (FIX::Exception* pException) {
        const std::unique_ptr<FIX::Exception> owned(pException);
        ReportSettingsError(reporter, "() exception catch: ", owned->what());
    } catch (...) {
        ReportSettingsError(reporter, "() unknown exception catch.");
    }
    return false;
}

}  // namespace vantrel

namespace vantrel {
namespace {

// A plain flag: a thread-local with a destructor would keep the library
// loaded after dlclose.
thread_local bool t_bLogOnly = false;

}  // namespace

LogOnlyAlerts::LogOnlyAlerts(bool bOn) noexcept : m_bWas(t_bLogOnly) { t_bLogOnly = bOn; }

LogOnlyAlerts::~LogOnlyAlerts() { t_bLogOnly = m_bWas; }

bool AlertsAreLogOnly() noexcept { return t_bLogOnly; }

}  // namespace vantrel
