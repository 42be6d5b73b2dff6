// The SMS gateway as the library sees it: a plug-in loaded at run time, and
// the one gateway object its factory creates (the interface is in the public
// header vantrel/sms_gateway.h).
#pragma once

#include <memory>
#include <string>

#include "platform/SharedObject.h"
#include "vantrel/sms_gateway.h"

namespace vantrel {

// `text` as a wide string, converted with mbrtowc through the calling thread's
// LC_CTYPE locale. Each byte the locale cannot convert (or an incomplete
// character at the end) becomes U+FFFD and the conversion goes on with the
// next byte; a NUL byte ends the text as a C string reader would see it.
std::wstring WidenThroughLocale(const std::string& text);

class SmsGateway {
public:
    // Loads the plug-in named by VANTREL_SMS_GATEWAY and asks its factory for a
    // gateway object. nullptr when the variable is unset or empty, the plug-in
    // does not load, lacks the factory, the factory refuses, or the object is
    // of another layout version or incomplete; the plug-in is then unloaded.
    static std::unique_ptr<SmsGateway> Create() noexcept;
    static std::unique_ptr<SmsGateway> Create(const std::string& path) noexcept;

    // Releases the object, then unloads the plug-in.
    ~SmsGateway();
    SmsGateway(const SmsGateway&) = delete;
    SmsGateway& operator=(const SmsGateway&) = delete;

    // One send call; the reply is handed back to the gateway at once. Returns
    // the gateway's result (0 accepted), or -1 when the call threw.
    int Send(const std::wstring& apiId, const std::wstring& userName, const std::wstring& password,
             const std::wstring& number, const std::wstring& text) noexcept;

private:
    SmsGateway(platform::SharedObject plugin, vantrel_sms_gateway* pObject) noexcept;

    platform::SharedObject m_plugin;  // closed after m_pObject is released
    vantrel_sms_gateway* m_pObject;
};

}  // namespace vantrel
