#include "platform/Module.h"

#include "platform/win32/Windows.h"

namespace vantrel::platform {

bool StartSocketLayer() noexcept {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    if (data.wVersion != MAKEWORD(2, 2)) {
        ::WSACleanup();
        return false;
    }
    return true;
}

void StopSocketLayer() noexcept { ::WSACleanup(); }

ResourceBytes ModuleResource(const char* type, int id) noexcept {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCSTR>(&ModuleResource), &module)) {
        return {nullptr, 0};
    }
    HRSRC resource = ::FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (resource == nullptr) return {nullptr, 0};
    HGLOBAL loaded = ::LoadResource(module, resource);
    const void* pData = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (pData == nullptr) return {nullptr, 0};
    return {static_cast<const char*>(pData), static_cast<std::size_t>(::SizeofResource(module, resource))};
}

}  // namespace vantrel::platform
