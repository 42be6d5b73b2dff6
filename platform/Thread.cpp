#include "platform/Thread.h"

#include <thread>

namespace vantrel::platform {

struct LibraryThread::Native {
    std::thread thread;
};

LibraryThread::~LibraryThread() { Detach(); }

bool LibraryThread::Start(std::function<void()> body) noexcept {
    try {
        auto* pNative = new Native;
        try {
            pNative->thread = std::thread(std::move(body));
        } catch (...) {
            delete pNative;
            return false;
        }
        Detach();
        m_pNative = pNative;
        return true;
    } catch (...) {
        return false;
    }
}

bool LibraryThread::Joinable() const noexcept { return m_pNative != nullptr && m_pNative->thread.joinable(); }

// A joinable thread counts as running: Linux never ends it behind our back.
bool LibraryThread::Running() const noexcept { return Joinable(); }

bool LibraryThread::IsCurrent() const noexcept {
    return Joinable() && m_pNative->thread.get_id() == std::this_thread::get_id();
}

void LibraryThread::Join() noexcept {
    if (!Joinable() || IsCurrent()) return;
    try {
        m_pNative->thread.join();
    } catch (...) {
    }
    delete m_pNative;
    m_pNative = nullptr;
}

void LibraryThread::Detach() noexcept {
    if (m_pNative == nullptr) return;
    if (m_pNative->thread.joinable()) {
        try {
            m_pNative->thread.detach();
        } catch (...) {
        }
    }
    delete m_pNative;
    m_pNative = nullptr;
}

LibraryThread::NativeHandle LibraryThread::Handle() const noexcept {
    return Joinable() ? m_pNative->thread.native_handle() : NativeHandle{};
}

bool MayJoinThreadsAtUnload() noexcept { return true; }

}  // namespace vantrel::platform
