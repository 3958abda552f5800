#include "platform/fs.h"
namespace platform {
namespace { FsCalls g{}; }
FsCalls& fsCalls() { return g; }
const FsCalls& platformFsCalls() { return g; }
}  // namespace platform
