// Parts of the platform layer that are the same in both flavours.
#include "platform/platform.h"

#include <fcntl.h>

namespace platform {

int open(const char *module_path, int flags, mode_t mode)
{
    return ::open(path(module_path).c_str(), flags, mode);
}

} // namespace platform
