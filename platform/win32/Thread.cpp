#include "platform/Thread.h"

#include <memory>

#include "platform/win32/Windows.h"

namespace vantrel::platform {
namespace {

struct StartBlock {
    std::function<void()> body;
    HMODULE module;  // the reference the thread holds on the library
};

DWORD WINAPI ThreadMain(void* pArgument) {
    HMODULE module = nullptr;
    {
        std::unique_ptr<StartBlock> start(static_cast<StartBlock*>(pArgument));
        module = start->module;
        try {
            start->body();
        } catch (...) {
        }
    }
    // Drops the thread's reference and ends the thread without returning into
    // code that the FreeLibrary may just have unmapped.
    if (module != nullptr) ::FreeLibraryAndExitThread(module, 0);
    return 0;
}

}  // namespace

struct LibraryThread::Native {
    HANDLE handle;
    DWORD id;
};

LibraryThread::~LibraryThread() { Detach(); }

bool LibraryThread::Start(std::function<void()> body) noexcept {
    StartBlock* pStart = nullptr;
    Native* pNative = nullptr;
    try {
        pStart = new StartBlock{std::move(body), nullptr};
        pNative = new Native{nullptr, 0};
    } catch (...) {
        delete pStart;
        return false;
    }
    // A counted reference on the module that holds this code (the DLL, or
    // the program the library is linked into).
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&ThreadMain),
                              &pStart->module)) {
        pStart->module = nullptr;
    }
    const HMODULE module = pStart->module;
    pNative->handle = ::CreateThread(nullptr, 0, ThreadMain, pStart, 0, &pNative->id);
    if (pNative->handle == nullptr) {
        if (module != nullptr) ::FreeLibrary(module);
        delete pStart;
        delete pNative;
        return false;
    }
    Detach();
    m_pNative = pNative;
    return true;
}

bool LibraryThread::Joinable() const noexcept { return m_pNative != nullptr; }

bool LibraryThread::Running() const noexcept {
    return m_pNative != nullptr && ::WaitForSingleObject(m_pNative->handle, 0) == WAIT_TIMEOUT;
}

bool LibraryThread::IsCurrent() const noexcept { return m_pNative != nullptr && m_pNative->id == ::GetCurrentThreadId(); }

void LibraryThread::Join() noexcept {
    if (!Joinable() || IsCurrent()) return;
    ::WaitForSingleObject(m_pNative->handle, INFINITE);
    Detach();
}

void LibraryThread::Detach() noexcept {
    if (m_pNative == nullptr) return;
    ::CloseHandle(m_pNative->handle);
    delete m_pNative;
    m_pNative = nullptr;
}

LibraryThread::NativeHandle LibraryThread::Handle() const noexcept {
    return m_pNative != nullptr ? m_pNative->handle : nullptr;
}

bool MayJoinThreadsAtUnload() noexcept { return false; }

}  // namespace vantrel::platform
