// The alert handlers set themselves up at the first warning or error of the
// process, and log how that went. Tests that read whole logs call
// SetUpAlertHandlersAside() first: it runs that set-up now, with no settings
// file and into a scratch log, so that the test's log holds only the test's
// own lines. The handlers then send nothing for the rest of the process
// (unless a test resets them).
#pragma once

namespace vantrel {
namespace test {

void SetUpAlertHandlersAside();

}  // namespace test
}  // namespace vantrel
