#include "store/lock.h"

#include "platform/platform.h"
#include "store/exit.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int env_lock_fd = -1;

namespace {
const char kLockPath[] = "/ramdisk/.env_lock";
}

std::optional<std::string> env_lock_take(int *slot)
{
    if (slot == nullptr)
        slot = &env_lock_fd;
    char why[128];
    *slot = platform::open(kLockPath, O_CREAT | O_RDONLY, 0666);
    if (*slot < 0) {
        int err = errno;
        std::snprintf(why, sizeof why, "Failed to open env lock:%s(%d)", std::strerror(err), err);
        return why;
    }
    set_sock_cloexec(*slot, 1);
    while (flock(*slot, LOCK_EX) != 0) {
        if (errno == EINTR)
            continue;
        int err = errno;
        _close_sock(slot, "*env_lock_fd", __FILE__, __LINE__);
        std::snprintf(why, sizeof why, "Failed to flock env lock:%s(%d)", std::strerror(err), err);
        return why;
    }
    return std::nullopt;
}

int env_lock_acquire(int *slot)
{
    if (std::optional<std::string> why = env_lock_take(slot)) {
        std::fprintf(stderr, "%s\n", why->c_str());
        end_run(-1);
    }
    return 0;
}

int env_lock_release(int *slot)
{
    if (slot == nullptr)
        slot = &env_lock_fd;
    if (*slot == -1)
        return -1;
    while (flock(*slot, LOCK_UN) != 0) {
        if (errno == EINTR)
            continue;
        int err = errno;
        std::fprintf(stderr, "Failed to un-flock env lock:%s(%d)\n", std::strerror(err), err);
        break;
    }
    _close_sock(slot, "*env_lock_fd", __FILE__, __LINE__);
    return 0;
}

void cleanup_and_exit(int status)
{
    env_lock_release(nullptr);
    end_run(status);
}
