// The board: real paths, syslog, the account database and /dev/i2c0. The
// management library itself comes from the board's libmgmt.
#include "platform/platform.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace platform {

std::string root_directory()
{
    return "/";
}

bool root_known()
{
    return true;
}

std::string path(const char *module_path)
{
    return module_path;
}

void log(const char *ident, int facility, int priority, const char *text)
{
    openlog(ident, 0, facility);
    ::syslog(priority, "%s", text);
    closelog();
}

int system(const char *command)
{
    std::fflush(nullptr);  // keep our output ahead of the child's
    return std::system(command);
}

unsigned sleep(unsigned seconds)
{
    return ::sleep(seconds);
}

int i2c_open()
{
    return ::open("/dev/i2c0", O_RDWR);
}

int i2c_select(int fd, int address)
{
    return ::ioctl(fd, I2C_SLAVE, address);
}

ssize_t i2c_read(int fd, void *buffer, std::size_t length)
{
    return ::read(fd, buffer, length);
}

ssize_t i2c_write(int fd, const void *buffer, std::size_t length)
{
    return ::write(fd, buffer, length);
}

void i2c_close(int fd)
{
    ::close(fd);
}

} // namespace platform
