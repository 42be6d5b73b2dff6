// The SMS gateway as the library sees it: one gateway object with a send
// operation, created at set-up and released at unload.
//
// Linux: a plug-in loaded at run time, whose factory creates the object (the
// interface is in the public header vantrel/sms_gateway.h); see
// SmsGateway.cpp. Windows: a COM component created by its class identifier
// for its gateway interface; see SmsGatewayCom.cpp. The build selects one;
// the SMS handler above it is the same.
#pragma once

#include <memory>
#include <string>

namespace vantrel {

// `text` as the gateway receives it: the library's 8-bit text as a wide
// string, converted through the ANSI code page on Windows and through the
// calling thread's LC_CTYPE locale elsewhere.
std::wstring GatewayText(const std::string& text);

#if defined(_WIN32)
// `text` converted through the Windows code page `nCodePage`; a byte that does
// not convert becomes the code page's default character (U+FFFD for UTF-8).
std::wstring WidenThroughCodePage(const std::string& text, unsigned nCodePage);
#else
// `text` converted with mbrtowc through the calling thread's LC_CTYPE locale.
// Each byte the locale cannot convert (or an incomplete character at the end)
// becomes U+FFFD and the conversion goes on with the next byte; a NUL byte
// ends the text as a C string reader would see it.
std::wstring WidenThroughLocale(const std::string& text);
#endif

class SmsGateway {
public:
    // Creates the gateway object. nullptr when it cannot be created; then
    // nothing of the gateway stays loaded.
    // Linux: loads the plug-in named by VANTREL_SMS_GATEWAY and asks its
    // factory; nullptr when the variable is unset or empty, the plug-in does
    // not load, lacks the factory, the factory refuses, or the object is of
    // another layout version or incomplete.
    // Windows: CoCreateInstance of the gateway class for the gateway
    // interface, in-process; nullptr when COM cannot be entered, the class is
    // not registered, its server does not load or refuses the interface.
    static std::unique_ptr<SmsGateway> Create() noexcept;

    // Releases the object (and unloads the plug-in).
    ~SmsGateway();
    SmsGateway(const SmsGateway&) = delete;
    SmsGateway& operator=(const SmsGateway&) = delete;

    // One send call; the reply is freed at once. Returns the gateway's result
    // (0 accepted, an HRESULT on Windows), or -1 when the call threw.
    int Send(const std::wstring& apiId, const std::wstring& userName, const std::wstring& password,
             const std::wstring& number, const std::wstring& text) noexcept;

    // Each implementation's own state.
    struct Native;

private:
    explicit SmsGateway(std::unique_ptr<Native> pNative) noexcept;

    std::unique_ptr<Native> m_pNative;
};

}  // namespace vantrel
