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

int env_lock_acquire(int *slot)
{
    if (slot == nullptr)
        slot = &env_lock_fd;
    *slot = platform::open(kLockPath, O_CREAT | O_RDONLY, 0666);
    if (*slot < 0) {
        int err = errno;
        std::fprintf(stderr, "Failed to open env lock:%s(%d)\n", std::strerror(err), err);
        end_run(-1);
    }
    set_sock_cloexec(*slot, 1);
    while (flock(*slot, LOCK_EX) != 0) {
        if (errno == EINTR)
            continue;
        int err = errno;
        _close_sock(slot, "*env_lock_fd", __FILE__, __LINE__);
        std::fprintf(stderr, "Failed to flock env lock:%s(%d)\n", std::strerror(err), err);
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
