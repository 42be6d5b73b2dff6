// The shared library loaded the way a host loads it: each load starts from
// scratch (no handler, no settings read, no thread), and unloading it runs
// everything the library does at unload.
#pragma once

#include <dlfcn.h>

#include <future>
#include <string>

#include <gtest/gtest.h>

#include "tests/api/SessionFixture.h"

namespace vantrel {
namespace test {

class LoadedLibrary {
public:
    LoadedLibrary() : m_pHandle(::dlopen(VANTREL_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {
        EXPECT_NE(m_pHandle, nullptr) << ::dlerror();
    }
    ~LoadedLibrary() {
        if (m_pHandle != nullptr) ::dlclose(m_pHandle);
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    template <typename Function>
    Function Entry(const char* name) const {
        const auto entry = reinterpret_cast<Function>(m_pHandle != nullptr ? ::dlsym(m_pHandle, name) : nullptr);
        EXPECT_NE(entry, nullptr) << name;
        return entry;
    }

    // The library's Login against `server`, which reads the credentials and
    // answers `verdict`. Login's result.
    int Login(QuoteServer& server, const char* verdict) const {
        using LoginFunction = int (*)(const char*, int, const char*, const char*);
        const auto login = Entry<LoginFunction>("Login");
        if (login == nullptr) return -99;
        std::future<int> result =
            std::async(std::launch::async, [&] { return login("127.0.0.1", server.port(), kLogin, kPassword); });
        std::string line;
        EXPECT_TRUE(server.Accept() && server.ReadLine(line) && server.ReadLine(line));
        EXPECT_TRUE(server.Send(verdict));
        return result.get();
    }

    // Unloads the library; true when it is gone from the process.
    bool Unload() {
        const bool bClosed = m_pHandle != nullptr && ::dlclose(m_pHandle) == 0;
        m_pHandle = nullptr;
        return bClosed && ::dlopen(VANTREL_SHARED_LIBRARY, RTLD_NOW | RTLD_NOLOAD) == nullptr;
    }

private:
    void* m_pHandle;
};

}  // namespace test
}  // namespace vantrel
