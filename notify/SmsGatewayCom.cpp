// The SMS gateway on Windows: a COM component, created in-process by its
// class identifier for its gateway interface, whose send method is the
// interface's tenth entry (slot 9, counting IUnknown's three).
//
// Threads and apartments. Alerts are sent on whichever thread logs them: host
// threads, the quotes thread, the mail thread. An object created in the
// single-threaded apartment of the thread that happened to set the handler up
// could be called only from that thread, so the gateway lives in the
// process's multithreaded apartment (MTA) instead:
// - While the gateway exists the library holds the MTA open
//   (CoIncrementMTAUsage). Threads that never entered COM themselves (the
//   library's own, and most host threads) are then in the MTA implicitly and
//   call the object directly; COM also keeps the gateway's DLL loaded, which
//   it would unload when the last apartment of the process closed.
// - A host thread that made itself a single-threaded apartment is not
//   changed: its creation and send calls run on a short-lived helper thread,
//   in the MTA, while it waits.
// So a gateway registered as free-threaded ("Free" or "Both") is always
// called in the MTA; an apartment-threaded one is created by COM in an
// apartment of its own and reached through COM's marshalling.
// The MTA hold needs Windows 8 or later; without it the gateway is not
// created. Release at unload runs on the unloading thread, which may not
// start threads under the loader lock.
#include "notify/SmsGateway.h"

#include <functional>
#include <thread>
#include <utility>

#include "platform/win32/Windows.h"

#include <objbase.h>
#include <oleauto.h>

namespace vantrel {
namespace {

// {231CD7E4-908C-45C0-B357-34FE860BED1D}
const CLSID kGatewayClass = {0x231CD7E4, 0x908C, 0x45C0, {0xB3, 0x57, 0x34, 0xFE, 0x86, 0x0B, 0xED, 0x1D}};
// {EEFFA403-0DD7-4D83-A9ED-CA22DAD7C388}
const IID kGatewayInterface = {0xEEFFA403, 0x0DD7, 0x4D83, {0xA9, 0xED, 0xCA, 0x22, 0xDA, 0xD7, 0xC3, 0x88}};

// The gateway interface as far as the library uses it.
struct IGateway;
struct IGatewayVtbl {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(IGateway* self, REFIID riid, void** ppv);
    ULONG(STDMETHODCALLTYPE* AddRef)(IGateway* self);
    ULONG(STDMETHODCALLTYPE* Release)(IGateway* self);
    void* pNotCalled[6];  // slots 3 to 8
    HRESULT(STDMETHODCALLTYPE* Send)(IGateway* self, BSTR apiId, BSTR userName, BSTR password, BSTR number,
                                     BSTR text, BSTR* pReply);
};
struct IGateway {
    const IGatewayVtbl* lpVtbl;
};

using MtaUsageFn = HRESULT(WINAPI*)(void** pCookie);

// The process's MTA, held open from creation to release. The entries are
// looked up at run time, so that the DLL still loads where they are missing.
class MtaHold {
public:
    bool Acquire() noexcept {
        const HMODULE ole32 = ::GetModuleHandleA("ole32.dll");
        const auto increment =
            ole32 != nullptr ? reinterpret_cast<MtaUsageFn>(
                                   reinterpret_cast<void*>(::GetProcAddress(ole32, "CoIncrementMTAUsage")))
                             : nullptr;
        return increment != nullptr && SUCCEEDED(increment(&m_pCookie));
    }
    void Drop() noexcept {
        if (m_pCookie == nullptr) return;
        const auto decrement = reinterpret_cast<HRESULT(WINAPI*)(void*)>(
            reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("ole32.dll"), "CoDecrementMTAUsage")));
        if (decrement != nullptr) decrement(m_pCookie);
        m_pCookie = nullptr;
    }

private:
    void* m_pCookie = nullptr;
};

// True when the calling thread is a single-threaded (or neutral) apartment
// of its own; false when it is in the MTA, explicitly or implicitly.
bool InOwnApartment() noexcept {
    APTTYPE type = APTTYPE_MTA;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    if (FAILED(::CoGetApartmentType(&type, &qualifier))) return false;
    return type != APTTYPE_MTA;
}

// Runs `call` in the MTA: here, or on a helper thread while this one waits.
void RunInMta(const std::function<void()>& call) {
    if (!InOwnApartment()) {
        call();
        return;
    }
    std::thread helper(call);
    helper.join();
}

class Bstr {
public:
    explicit Bstr(const std::wstring& text)
        : m_bstr(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { ::SysFreeString(m_bstr); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const noexcept { return m_bstr; }

private:
    BSTR m_bstr;
};

}  // namespace

struct SmsGateway::Native {
    MtaHold mta;
    IGateway* pObject = nullptr;

    ~Native() {
        if (pObject != nullptr) pObject->lpVtbl->Release(pObject);
        mta.Drop();
    }
};

std::wstring WidenThroughCodePage(const std::string& text, unsigned nCodePage) {
    const std::string bytes(text.c_str());  // a NUL byte ends the text
    if (bytes.empty()) return std::wstring();
    const int nBytes = static_cast<int>(bytes.size());
    const int nWide = ::MultiByteToWideChar(nCodePage, 0, bytes.data(), nBytes, nullptr, 0);
    if (nWide <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(nWide), L'\0');
    ::MultiByteToWideChar(nCodePage, 0, bytes.data(), nBytes, wide.data(), nWide);
    return wide;
}

std::wstring GatewayText(const std::string& text) { return WidenThroughCodePage(text, CP_ACP); }

std::unique_ptr<SmsGateway> SmsGateway::Create() noexcept {
    try {
        std::unique_ptr<Native> pNative(new Native);
        if (!pNative->mta.Acquire()) return nullptr;
        RunInMta([&] {
            void* pObject = nullptr;
            if (SUCCEEDED(::CoCreateInstance(kGatewayClass, nullptr, CLSCTX_INPROC_SERVER, kGatewayInterface,
                                             &pObject))) {
                pNative->pObject = static_cast<IGateway*>(pObject);
            }
        });
        if (pNative->pObject == nullptr) return nullptr;
        return std::unique_ptr<SmsGateway>(new SmsGateway(std::move(pNative)));
    } catch (...) {
        return nullptr;
    }
}

SmsGateway::SmsGateway(std::unique_ptr<Native> pNative) noexcept : m_pNative(std::move(pNative)) {}

SmsGateway::~SmsGateway() = default;

int SmsGateway::Send(const std::wstring& apiId, const std::wstring& userName, const std::wstring& password,
                     const std::wstring& number, const std::wstring& text) noexcept {
    int nResult = -1;
    try {
        const Bstr api(apiId), user(userName), secret(password), to(number), message(text);
        IGateway* const pObject = m_pNative->pObject;
        RunInMta([&] {
            BSTR reply = nullptr;
            nResult = static_cast<int>(
                pObject->lpVtbl->Send(pObject, api.get(), user.get(), secret.get(), to.get(), message.get(), &reply));
            ::SysFreeString(reply);
        });
    } catch (...) {
        nResult = -1;
    }
    return nResult;
}

}  // namespace vantrel
