#include "store/write_all.h"

#include <unistd.h>

#include <cerrno>

int write_all(int fd, const void *data, std::size_t length)
{
    const char *p = static_cast<const char *>(data);
    while (length > 0) {
        ssize_t n = ::write(fd, p, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ENOSPC;
        p += n;
        length -= static_cast<std::size_t>(n);
    }
    return 0;
}
