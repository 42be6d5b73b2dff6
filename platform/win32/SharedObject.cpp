#include "platform/SharedObject.h"

#include "platform/win32/Windows.h"

namespace vantrel::platform {
namespace {

std::string LastErrorText(DWORD code) {
    char* pText = nullptr;
    const DWORD n = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<char*>(&pText), 0, nullptr);
    std::string text = n != 0 && pText != nullptr ? std::string(pText, n) : std::string();
    if (pText != nullptr) ::LocalFree(pText);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return "error " + std::to_string(code) + (text.empty() ? std::string() : ": " + text);
}

}  // namespace

SharedObject::SharedObject(const std::string& path) {
    if (path.empty()) {
        m_error = "no file name";
        return;
    }
    m_pHandle = ::LoadLibraryA(path.c_str());
    if (m_pHandle == nullptr) m_error = LastErrorText(::GetLastError());
}

void* SharedObject::Symbol(const char* name) const noexcept {
    if (m_pHandle == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(m_pHandle), name));
}

void SharedObject::Close() noexcept {
    if (m_pHandle != nullptr) {
        ::FreeLibrary(static_cast<HMODULE>(m_pHandle));
        m_pHandle = nullptr;
    }
}

}  // namespace vantrel::platform
