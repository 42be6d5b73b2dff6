// Shared objects loaded at run time (dlopen), for the plug-in boundaries:
// the Simple MAPI library and the SMS gateway.
#pragma once

#include <string>

namespace vantrel::platform {

// Owns one dlopen handle; the object is closed when the owner is destroyed.
// Opened with RTLD_NOW | RTLD_LOCAL, so a plug-in with unresolved symbols
// fails at once and its symbols never mix with the host's.
class SharedObject {
public:
    SharedObject() = default;
    explicit SharedObject(const std::string& path);
    ~SharedObject();
    SharedObject(SharedObject&& other) noexcept;
    SharedObject& operator=(SharedObject&& other) noexcept;
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
