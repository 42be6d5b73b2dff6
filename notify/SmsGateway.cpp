#include "notify/SmsGateway.h"

#include <cwchar>
#include <utility>

#include "platform/FileSystem.h"
#include "platform/SharedObject.h"
#include "vantrel/sms_gateway.h"

namespace vantrel {

struct SmsGateway::Native {
    platform::SharedObject plugin;  // closed after pObject is released
    vantrel_sms_gateway* pObject;

    ~Native() {
        try {
            pObject->release(pObject);
        } catch (...) {
        }
    }
};

namespace {

std::unique_ptr<SmsGateway::Native> CreateFromPlugin(const std::string& path) {
    platform::SharedObject plugin(path);
    const auto factory = reinterpret_cast<vantrel_sms_gateway_factory>(plugin.Symbol(VANTREL_SMS_GATEWAY_FACTORY));
    if (factory == nullptr) {
        return nullptr;
    }
    vantrel_sms_gateway* pObject =
        factory(VANTREL_SMS_GATEWAY_CLASS_ID, VANTREL_SMS_GATEWAY_INTERFACE_ID, VANTREL_SMS_GATEWAY_VERSION);
    if (pObject == nullptr) {
        return nullptr;
    }
    if (pObject->version != VANTREL_SMS_GATEWAY_VERSION || pObject->send == nullptr ||
        pObject->free_reply == nullptr || pObject->release == nullptr) {
        if (pObject->release != nullptr) {
            pObject->release(pObject);
        }
        return nullptr;
    }
    return std::unique_ptr<SmsGateway::Native>(new SmsGateway::Native{std::move(plugin), pObject});
}

}  // namespace

std::wstring GatewayText(const std::string& text) { return WidenThroughLocale(text); }

std::wstring WidenThroughLocale(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    std::mbstate_t state{};
    const char* p = text.c_str();
    std::size_t nLeft = std::char_traits<char>::length(p);
    while (nLeft > 0) {
        wchar_t wc = 0;
        const std::size_t n = std::mbrtowc(&wc, p, nLeft, &state);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
            wide.push_back(L'\xFFFD');
            state = std::mbstate_t{};
            ++p;
            --nLeft;
            continue;
        }
        wide.push_back(wc);
        p += n;
        nLeft -= n;
    }
    return wide;
}

std::unique_ptr<SmsGateway> SmsGateway::Create() noexcept {
    try {
        std::unique_ptr<Native> pNative = CreateFromPlugin(platform::GetEnvironment("VANTREL_SMS_GATEWAY"));
        return pNative ? std::unique_ptr<SmsGateway>(new SmsGateway(std::move(pNative))) : nullptr;
    } catch (...) {
        return nullptr;
    }
}

SmsGateway::SmsGateway(std::unique_ptr<Native> pNative) noexcept : m_pNative(std::move(pNative)) {}

SmsGateway::~SmsGateway() = default;

int SmsGateway::Send(const std::wstring& apiId, const std::wstring& userName, const std::wstring& password,
                     const std::wstring& number, const std::wstring& text) noexcept {
    vantrel_sms_gateway* const pObject = m_pNative->pObject;
    wchar_t* reply = nullptr;
    int nResult = -1;
    try {
        nResult = pObject->send(pObject, apiId.c_str(), userName.c_str(), password.c_str(), number.c_str(),
                                  text.c_str(), &reply);
        if (reply != nullptr) {
            pObject->free_reply(pObject, reply);
        }
    } catch (...) {
        nResult = -1;
    }
    return nResult;
}

}  // namespace vantrel
