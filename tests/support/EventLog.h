// Reading back what the library logged in a test's log directory.
#pragma once

#include <string>
#include <vector>

namespace vantrel {
namespace test {

// Everything in the event files of `directory`.
std::string EventLogText(const std::string& directory);

// The event files' lines as "<label>: <text>", e.g. "event: Login() is
// started.", "Warning: ..." or "Error (2): ...".
std::vector<std::string> EventLogLines(const std::string& directory);

}  // namespace test
}  // namespace vantrel
