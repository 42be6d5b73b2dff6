#include "platform/Module.h"

namespace vantrel::platform {

bool StartSocketLayer() noexcept { return true; }

void StopSocketLayer() noexcept {}

}  // namespace vantrel::platform
