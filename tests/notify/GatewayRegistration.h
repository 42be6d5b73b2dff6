// The SMS gateway class registered for the Windows tests: the recording COM
// server (recording_com_gateway.c) as the class's in-process server
// (HKCR\CLSID\{...}\InprocServer32), free to be called from any apartment
// (ThreadingModel "Both"). Without administrator rights Windows writes such
// a registration for the current user.
#pragma once

#include <windows.h>

#include <string>

namespace vantrel {
namespace test {

inline const wchar_t* GatewayClassKey() {
    return L"CLSID\\{231CD7E4-908C-45C0-B357-34FE860BED1D}";
}

// Removes the registration; true when none is left.
inline bool UnregisterGatewayServer() {
    const LSTATUS status = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, GatewayClassKey());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// Registers `dllPath` (made absolute) as the class's server; true on success.
inline bool RegisterGatewayServer(const std::string& dllPath) {
    char full[MAX_PATH];
    const DWORD n = ::GetFullPathNameA(dllPath.c_str(), MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) return false;
    const std::wstring key = std::wstring(GatewayClassKey()) + L"\\InprocServer32";
    HKEY hKey = nullptr;
    if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const char threading[] = "Both";
    const bool bOk =
        ::RegSetValueExA(hKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(full), n + 1) == ERROR_SUCCESS &&
        ::RegSetValueExA(hKey, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(threading),
                         sizeof threading) == ERROR_SUCCESS;
    ::RegCloseKey(hKey);
    return bOk;
}

}  // namespace test
}  // namespace vantrel
