// The library's log interface. Named apart from QuickFIX's FIX::Log, which
// this library does not use.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

class Log {
public:
    virtual ~Log() = default;

    virtual void clear() = 0;
    virtual void onEvent(const std::string& text, bool bFlush) = 0;
    virtual void onIncoming(const std::string& text, bool bFlush) = 0;
    virtual void onOutgoing(const std::string& text, bool bFlush) = 0;
    virtual void onMTIncoming(const std::string& text, bool bFlush) = 0;
    virtual void onMTOutgoing(const std::string& text, bool bFlush) = 0;
    virtual void onBankIncoming(const std::string& text, bool bFlush) = 0;
    virtual void onBankOutgoing(const std::string& text, bool bFlush) = 0;
    virtual void onError(uint32_t nCode, const std::string& text, bool bFlush) = 0;
    virtual void onWarning(const std::string& text, bool bFlush) = 0;
    virtual void onTransaction(const std::string& text, bool bFlush) = 0;
};

}  // namespace vantrel
