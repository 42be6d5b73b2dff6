#include "platform/Clock.h"

#include <atomic>
#include <chrono>

namespace vantrel::platform {
namespace {

std::atomic<ClockSource> g_pClockSource{nullptr};

}  // namespace

int64_t NowUtcMillis() noexcept {
    if (ClockSource source = g_pClockSource.load(std::memory_order_acquire)) {
        return source();
    }
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void SetClockSource(ClockSource source) noexcept {
    g_pClockSource.store(source, std::memory_order_release);
}

}  // namespace vantrel::platform
