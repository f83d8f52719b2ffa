// fipscheck's query without the library: the kernel's own switch decides, as
// the library does. The simulated module always uses it; a board build only
// when asked to (CFGPULL_OWN_FIPSCHECK), the board's libfipscheck otherwise.
#include "platform/platform.h"

#include <fcntl.h>
#include <unistd.h>

extern "C" int FIPSCHECK_fips_mode_configured(void)
{
    int fd = platform::open("/proc/sys/crypto/fips_enabled", O_RDONLY);
    if (fd < 0)
        return 0;
    char c = 0;
    ssize_t n = ::read(fd, &c, 1);
    ::close(fd);
    return n == 1 && c == '1';
}
