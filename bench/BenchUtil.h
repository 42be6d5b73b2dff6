// Small timing helpers for the benchmark programs: run a body many times,
// repeat, and report the median, so one noisy run does not decide a figure.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace vantrel {
namespace bench {

// Nanoseconds per call of `body`, median of `rounds` rounds of `calls` calls.
template <typename Body>
double NanosPerCall(Body body, int calls, int rounds = 7) {
    std::vector<double> perCall;
    for (int r = 0; r < rounds; ++r) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < calls; ++i) body();
        const auto end = std::chrono::steady_clock::now();
        perCall.push_back(std::chrono::duration<double, std::nano>(end - start).count() / calls);
    }
    std::sort(perCall.begin(), perCall.end());
    return perCall[perCall.size() / 2];
}

}  // namespace bench
}  // namespace vantrel
