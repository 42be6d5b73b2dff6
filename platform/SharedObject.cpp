#include "platform/SharedObject.h"

#include <dlfcn.h>

namespace vantrel::platform {

SharedObject::SharedObject(const std::string& path) {
    if (path.empty()) {
        m_error = "no file name";
        return;
    }
    m_pHandle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_pHandle == nullptr) {
        const char* reason = ::dlerror();
        m_error = reason ? reason : "dlopen failed";
    }
}

void* SharedObject::Symbol(const char* name) const noexcept {
    return m_pHandle != nullptr && name != nullptr ? ::dlsym(m_pHandle, name) : nullptr;
}

void SharedObject::Close() noexcept {
    if (m_pHandle != nullptr) {
        ::dlclose(m_pHandle);
        m_pHandle = nullptr;
    }
}

}  // namespace vantrel::platform
