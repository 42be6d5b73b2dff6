#include "feed/FeedSettings.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include <quickfix/Exceptions.h>

#include "config/Config.h"
#include "log/LogFacade.h"

namespace vantrel {
namespace {

constexpr int32_t kMaxSeconds = 86400;

void ReportIllegal(const std::string& reason, const std::string& defaultText) {
    OutputWarning2Log("ReadFeedSettings(): " + reason + "; using the default " + defaultText + ".");
}

// An integer setting in [nMin, kMaxSeconds]; anything else keeps `value`.
void ReadSeconds(const char* key, int32_t nMin, int& value) {
    try {
        int32_t read = 0;
        if (!GetConfigLong(key, read)) return;
        if (read < nMin || read > kMaxSeconds) {
            ReportIllegal("Illegal value " + std::to_string(read) + " for " + key + " (" + std::to_string(nMin) +
                              " to " + std::to_string(kMaxSeconds) + ")",
                          std::to_string(value));
            return;
        }
        value = read;
    } catch (const FIX::Exception& e) {
        ReportIllegal(e.detail, std::to_string(value));
    }
}

void ReadBool(const char* key, bool& value) {
    try {
        GetConfigBool(key, value);
    } catch (const FIX::Exception& e) {
        ReportIllegal(e.detail, value ? "Y" : "N");
    }
}

}  // namespace

FeedSettings ReadFeedSettings() noexcept {
    FeedSettings settings;
    try {
        // Without a settings file every setting keeps its default, silently,
        // as every other setting of the library does.
        GetConfigDefaults();
    } catch (FIX::Exception* pException) {
        std::unique_ptr<FIX::Exception> owner(pException);
        return settings;
    } catch (...) {
        return settings;
    }
    try {
        ReadSeconds("QuotesKeepAliveSeconds", 0, settings.nKeepAliveSeconds);
        ReadSeconds("QuotesSilenceSeconds", 0, settings.nSilenceSeconds);
        ReadBool("QuotesReconnect", settings.bReconnect);
        ReadSeconds("QuotesReconnectMaxSeconds", 1, settings.nReconnectMaxSeconds);
    } catch (...) {
        // Memory exhaustion while reporting: what was read stands.
    }
    return settings;
}

}  // namespace vantrel
