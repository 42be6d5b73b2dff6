#include "notify/AlertSetUp.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

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

// One thread at a time works in log-only mode (the mail thread), so one
// process-wide slot names it; no thread-local storage, which a library loaded
// with dlopen gets allocated per thread and which the leak checker of the
// sanitizer builds misreads at exit.
std::atomic<std::thread::id> g_logOnlyThread{};

void SetLogOnly(bool bOn) noexcept {
    const std::thread::id self = std::this_thread::get_id();
    if (bOn) {
        g_logOnlyThread.store(self);
    } else {
        std::thread::id expected = self;
        g_logOnlyThread.compare_exchange_strong(expected, std::thread::id());
    }
}

}  // namespace

LogOnlyAlerts::LogOnlyAlerts(bool bOn) noexcept : m_bWas(AlertsAreLogOnly()) { SetLogOnly(bOn); }

LogOnlyAlerts::~LogOnlyAlerts() { SetLogOnly(m_bWas); }

bool AlertsAreLogOnly() noexcept { return g_logOnlyThread.load() == std::this_thread::get_id(); }

}  // namespace vantrel
