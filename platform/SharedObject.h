// Shared objects loaded at run time (dlopen; LoadLibrary on Windows), for
// the plug-in boundaries: the Simple MAPI library and the SMS gateway.
#pragma once

#include <string>
#include <utility>

namespace vantrel::platform {

// Owns one dlopen handle; the object is closed when the owner is destroyed.
// Opened with RTLD_NOW | RTLD_LOCAL, so a plug-in with unresolved symbols
// fails at once and its symbols never mix with the host's. On Windows the
// handle is an HMODULE and Error() holds GetLastError's code and text.
class SharedObject {
public:
    SharedObject() = default;
    explicit SharedObject(const std::string& path);
    ~SharedObject() { Close(); }
    SharedObject(SharedObject&& other) noexcept
        : m_pHandle(std::exchange(other.m_pHandle, nullptr)), m_error(std::move(other.m_error)) {}
    SharedObject& operator=(SharedObject&& other) noexcept {
        if (this != &other) {
            Close();
            m_pHandle = std::exchange(other.m_pHandle, nullptr);
            m_error = std::move(other.m_error);
        }
        return *this;
    }
    SharedObject(const SharedObject&) = delete;
    SharedObject& operator=(const SharedObject&) = delete;

    bool IsLoaded() const noexcept { return m_pHandle != nullptr; }
    // The address of an exported symbol, or nullptr.
    void* Symbol(const char* name) const noexcept;
    // Why the open failed (the loader's text); empty after a success.
    const std::string& Error() const noexcept { return m_error; }
    void Close() noexcept;

private:
    void* m_pHandle = nullptr;
    std::string m_error;
};

}  // namespace vantrel::platform
