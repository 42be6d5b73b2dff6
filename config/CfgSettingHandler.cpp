#include "config/CfgSettingHandler.h"

#include <memory>
#include <string>

#include <quickfix/Exceptions.h>

#include "config/Config.h"
#include "log/LogFacade.h"

namespace vantrel {
namespace {

// Constant-initialised: usable by an error logged during static
// initialisation or destruction of any other object of the library.
CCfgSettingHandler g_FlushFlagSetting("FlushFlag", false);

}  // namespace

bool CCfgSettingHandler::Get() noexcept {
    if (m_bLoaded.load(std::memory_order_acquire)) {
        return m_bValue.load(std::memory_order_relaxed);
    }
    try {
        bool bValue = false;
        if (GetConfigBool(m_szName, bValue)) {
            m_bValue.store(bValue, std::memory_order_relaxed);
            m_bLoaded.store(true, std::memory_order_release);
        } else {
            const std::string event = std::string("'") + m_szName +
                                      "' setting is not present in [DEFAULT] session of config "
                                      "file; using default value = " +
                                      (m_bDefault ? "1" : "0");
            m_bValue.store(m_bDefault, std::memory_order_relaxed);
            m_bLoaded.store(true, std::memory_order_release);
            // Logged after the store's lock has been released (GetConfigBool
            // holds it only while copying): logging takes the file log's lock,
            // and the store's lock is never held around it.
            OutputEvent2Log(event);
        }
    } catch (FIX::Exception* pException) {
        std::unique_ptr<FIX::Exception> owner(pException);
    } catch (...) {
        // The file cannot be loaded or the value is illegal: keep the
        // default, stay unsettled and try again next time.
    }
    return m_bValue.load(std::memory_order_relaxed);
}

CCfgSettingHandler& FlushFlagSetting() noexcept { return g_FlushFlagSetting; }

namespace testing {

void ResetSettingHandler(CCfgSettingHandler& handler) noexcept {
    handler.m_bValue.store(handler.m_bDefault);
    handler.m_bLoaded.store(false);
}

}  // namespace testing
}  // namespace vantrel
