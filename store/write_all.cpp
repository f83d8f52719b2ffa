#include "store/write_all.h"

#include <unistd.h>

#include <cerrno>

int write_all(int fd, const void *data, std::size_t length)
{
    return pwrite_all(fd, data, length, -1);
}

int pwrite_all(int fd, const void *data, std::size_t length, off_t offset)
{
    const char *p = static_cast<const char *>(data);
    while (length > 0) {
        ssize_t n = offset < 0 ? ::write(fd, p, length) : ::pwrite(fd, p, length, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ENOSPC;
        p += n;
        length -= static_cast<std::size_t>(n);
        offset += offset < 0 ? 0 : n;
    }
    return 0;
}

int pread_all(int fd, void *data, std::size_t length, off_t offset)
{
    char *p = static_cast<char *>(data);
    while (length > 0) {
        ssize_t n = ::pread(fd, p, length, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        p += n;
        length -= static_cast<std::size_t>(n);
        offset += n;
    }
    return 0;
}
