// Shared by the fuzz targets.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#if __cplusplus >= 201703L
#include <filesystem>
#endif

namespace vantrel {
namespace fuzz {

#if __cplusplus >= 201703L
// Points the library's log at a scratch directory, removed when the fuzzer
// exits, and its settings at a file that does not exist there: a warning or
// error a target logs then sets the alert handlers up with nothing to send,
// so a fuzz run never mails or texts anyone.
inline void UseScratchLogDirectory() {
    struct Scratch {
        std::string path;
        Scratch() {
            char name[] = "/tmp/vantrel-fuzz-XXXXXX";
            if (::mkdtemp(name) == nullptr) std::abort();
            path = name;
            ::setenv("VANTREL_LOG_DIR", path.c_str(), 1);
            ::setenv("VANTREL_CONFIG", (path + "/absent.cfg").c_str(), 1);
        }
        ~Scratch() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static Scratch scratch;
}
#endif  // a C++14 target (one that includes QuickFIX's message headers) logs nothing

// Stops the run with a message: the property named was broken, for the text
// shown (SOH as "|", other control bytes escaped).
[[noreturn]] inline void Fail(const char* what, const std::string& text = std::string()) {
    std::string shown;
    for (const unsigned char c : text) {
        char escaped[8];
        if (c == 1) {
            shown += '|';
        } else if (c < 0x20 || c >= 0x7f) {
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            shown += escaped;
        } else {
            shown += static_cast<char>(c);
        }
    }
    std::fprintf(stderr, "property broken: %s\n%s%s", what, shown.c_str(), shown.empty() ? "" : "\n");
    std::abort();
}

}  // namespace fuzz
}  // namespace vantrel
