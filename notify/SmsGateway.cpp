#include "notify/SmsGateway.h"

#include <cwchar>
#include <utility>

#include "platform/FileSystem.h"

namespace vantrel {

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
        return Create(platform::GetEnvironment("VANTREL_SMS_GATEWAY"));
    } catch (...) {
        return nullptr;
    }
}

std::unique_ptr<SmsGateway> SmsGateway::Create(const std::string& path) noexcept {
    try {
        platform::SharedObject plugin(path);
        const auto factory =
            reinterpret_cast<vantrel_sms_gateway_factory>(plugin.Symbol(VANTREL_SMS_GATEWAY_FACTORY));
        if (factory == nullptr) {
            return nullptr;
        }
        vantrel_sms_gateway* pObject = factory(VANTREL_SMS_GATEWAY_CLASS_ID, VANTREL_SMS_GATEWAY_INTERFACE_ID,
                                               VANTREL_SMS_GATEWAY_VERSION);
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
        return std::unique_ptr<SmsGateway>(new SmsGateway(std::move(plugin), pObject));
    } catch (...) {
        return nullptr;
    }
}

SmsGateway::SmsGateway(platform::SharedObject plugin, vantrel_sms_gateway* pObject) noexcept
    : m_plugin(std::move(plugin)), m_pObject(pObject) {}

SmsGateway::~SmsGateway() {
    try {
        m_pObject->release(m_pObject);
    } catch (...) {
    }
}

int SmsGateway::Send(const std::wstring& apiId, const std::wstring& userName, const std::wstring& password,
                     const std::wstring& number, const std::wstring& text) noexcept {
    wchar_t* reply = nullptr;
    int nResult = -1;
    try {
        nResult = m_pObject->send(m_pObject, apiId.c_str(), userName.c_str(), password.c_str(), number.c_str(),
                                  text.c_str(), &reply);
        if (reply != nullptr) {
            m_pObject->free_reply(m_pObject, reply);
        }
    } catch (...) {
        nResult = -1;
    }
    return nResult;
}

}  // namespace vantrel
