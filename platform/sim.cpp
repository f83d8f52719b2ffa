// The simulated module: a directory named by CFGPULL_SIM_ROOT stands for the
// module's root file system. Devices are plain files, the management library
// answers from files under sim/, and every effect on the module is appended
// to sim/calls.log so that tests can see it.
#include "platform/platform.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>

namespace {

const char kRootVariable[] = "CFGPULL_SIM_ROOT";

// Read at every use, so that in-process tests may point it elsewhere; a
// value once found to be a directory is not looked at again.
const char *known_root()
{
    static std::string checked;
    const char *r = std::getenv(kRootVariable);
    struct stat st {};
    if (r == nullptr || *r == '\0')
        return nullptr;
    if (checked != r && (::stat(r, &st) != 0 || !S_ISDIR(st.st_mode)))
        return nullptr;
    checked = r;
    return r;
}

std::string root()
{
    const char *r = known_root();
    if (r == nullptr) {
        std::fprintf(stderr, "%s must name the simulated module's root directory\n", kRootVariable);
        std::exit(255);
    }
    return r;
}

// One word for the shell, whatever the text holds.
std::string shell_quoted(const std::string &text)
{
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

void append_line(const char *module_path, const std::string &line)
{
    int fd = platform::open(module_path, O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0 && errno == ENOENT) {  // the first line: sim/ may be missing
        if (std::optional<platform::Location> sim = platform::locate("/sim"))
            ::mkdirat(sim->dir, sim->name.c_str(), 0755);
        fd = platform::open(module_path, O_WRONLY | O_CREAT | O_APPEND, 0644);
    }
    if (fd < 0)
        return;
    std::string text = line + "\n";
    ssize_t n = ::write(fd, text.data(), text.size());
    (void)n;
    ::close(fd);
}

void record_call(const std::string &line)
{
    append_line("/sim/calls.log", line);
}

// Reads a small text file of the module; false when it is missing.
bool read_text(const char *module_path, std::string &out)
{
    int fd = platform::open(module_path, O_RDONLY);
    if (fd < 0)
        return false;
    char buf[256];
    ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    out.assign(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    return true;
}

int read_number(const char *module_path, int fallback)
{
    std::string text;
    return read_text(module_path, text) ? std::atoi(text.c_str()) : fallback;
}

char random_char(const char *set)
{
    static std::random_device rd;
    std::size_t n = std::strlen(set);
    return set[rd() % n];
}

const char kSaltChars[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// I2C: the address selected on the bus and each EEPROM's address pointer.
int i2c_address = -1;
std::map<int, long> eeprom_pointer;

std::string device_file(int address)
{
    char name[32];
    std::snprintf(name, sizeof name, "/sim/i2c/%02x", address);
    return name;
}

bool is_multiplexer(int address)
{
    return address == 0x75 || address == 0x76;
}

} // namespace

namespace platform {

std::string root_directory()
{
    return root();
}

bool root_known()
{
    return known_root() != nullptr;
}

std::string path(const char *module_path)
{
    return root() + module_path;
}

void log(const char *ident, int facility, int priority, const char *text)
{
    std::string t = text;
    if (!t.empty() && t.back() == '\n')
        t.pop_back();
    char pri[16];
    std::snprintf(pri, sizeof pri, "<%d> ", facility | priority);
    append_line("/sim/syslog", std::string(pri).append(ident).append(": ").append(t));
}

int system(const char *command)
{
    std::fflush(nullptr);  // keep our output ahead of the child's
    record_call(std::string("system ") + command);
    std::string cmd = command;
    if (!cmd.empty() && cmd[0] == '/')
        cmd = shell_quoted(root()) + command;
    return std::system(cmd.c_str());
}

unsigned sleep(unsigned seconds)
{
    record_call("sleep " + std::to_string(seconds));
    return 0;
}

int i2c_open()
{
    i2c_address = -1;
    return open("/dev/i2c0", O_RDWR);
}

int i2c_select(int fd, int address)
{
    (void)fd;
    i2c_address = address;
    return 0;
}

ssize_t i2c_write(int fd, const void *buffer, std::size_t length)
{
    (void)fd;
    const auto *b = static_cast<const unsigned char *>(buffer);
    char line[32];
    std::snprintf(line, sizeof line, "i2c write %02x", i2c_address);
    std::string entry = line;
    for (std::size_t i = 0; i < length; ++i) {
        std::snprintf(line, sizeof line, " %02x", b[i]);
        entry += line;
    }
    record_call(entry);
    int device = open(device_file(i2c_address).c_str(), O_RDONLY);
    if (device < 0) {
        errno = ENXIO;
        return -1;
    }
    ::close(device);
    if (!is_multiplexer(i2c_address)) {
        long pointer = 0;
        std::size_t address_bytes = i2c_address == 0x56 ? 2 : 1;
        for (std::size_t i = 0; i < address_bytes && i < length; ++i)
            pointer = (pointer << 8) | b[i];
        eeprom_pointer[i2c_address] = pointer;
    }
    return static_cast<ssize_t>(length);
}

ssize_t i2c_read(int fd, void *buffer, std::size_t length)
{
    (void)fd;
    char entry[48];
    std::snprintf(entry, sizeof entry, "i2c read %02x %zu", i2c_address, length);
    record_call(entry);
    int device = open(device_file(i2c_address).c_str(), O_RDONLY);
    FILE *f = device < 0 ? nullptr : ::fdopen(device, "rb");
    if (f == nullptr && device >= 0)
        ::close(device);
    if (f == nullptr || is_multiplexer(i2c_address)) {
        if (f)
            std::fclose(f);
        errno = ENXIO;
        return -1;
    }
    long &pointer = eeprom_pointer[i2c_address];
    std::size_t got = 0;
    if (std::fseek(f, pointer, SEEK_SET) == 0)
        got = std::fread(buffer, 1, length, f);
    std::fclose(f);
    if (got != length) {
        errno = EIO;
        return -1;
    }
    pointer += static_cast<long>(length);
    return static_cast<ssize_t>(length);
}

void i2c_close(int fd)
{
    ::close(fd);
}

} // namespace platform

// The management library, simulated.
extern "C" {

int get_fips_mode_no_auth(int *fips_mode)
{
    // The mode is the kernel's for the life of the process.
    static std::optional<int> known;
    std::string text;
    if (!known && read_text("/proc/sys/crypto/fips_enabled", text))
        known = !text.empty() && text[0] == '1';
    if (!known)
        return -1;
    *fips_mode = *known;
    return 0;
}

int lock_file_rw(int fd, struct mgmt_file_lock *lock)
{
    (void)lock;
    record_call("lock_file_rw");
    return ::flock(fd, LOCK_EX);
}

int unlock_file(int fd, struct mgmt_file_lock *lock)
{
    (void)lock;
    record_call("unlock_file");
    return ::flock(fd, LOCK_UN);
}

int em_openssl_make_salt(char *salt, int size, int kind)
{
    (void)kind;
    if (size < 3)
        return -1;
    salt[0] = random_char(kSaltChars);
    salt[1] = random_char(kSaltChars);
    salt[2] = '\0';
    return 0;
}

int em_openssl_make_fips_salt(char *salt, int size, int kind)
{
    (void)kind;
    if (size < 20)
        return -1;
    std::memcpy(salt, "$5$", 3);
    for (int i = 3; i < 19; ++i)
        salt[i] = random_char(kSaltChars);
    salt[19] = '\0';
    return 0;
}

int get_rand_password(char *buffer, int size)
{
    for (int i = 0; i + 1 < size; ++i)
        buffer[i] = random_char("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    if (size > 0)
        buffer[size - 1] = '\0';
    return 0;
}

void *em_safe_memset(void *buffer, int value, size_t length)
{
    volatile unsigned char *p = static_cast<volatile unsigned char *>(buffer);
    while (length-- > 0)
        *p++ = static_cast<unsigned char>(value);
    return buffer;
}

int is_login_allowed(void)
{
    return read_number("/sim/login_allowed", 0);
}

int get_em_id(void)
{
    return 1;
}

int get_em_status(int em_id, struct em_status *status)
{
    (void)em_id;
    std::string text;
    if (!read_text("/sim/em_status", text))
        return -1;
    int byte6 = 0, byte11 = 0;
    if (std::sscanf(text.c_str(), "%d %d", &byte6, &byte11) != 2)
        return -1;
    std::memset(status, 0, sizeof *status);
    status->bytes[6] = static_cast<unsigned char>(byte6);
    status->bytes[11] = static_cast<unsigned char>(byte11);
    return 0;
}

int em_failover(void)
{
    record_call("em_failover");
    return 0;
}

int enc_reboot(int delay)
{
    record_call("enc_reboot " + std::to_string(delay));
    return 0;
}

int get_zelmar_baudrate_info(struct zelmar_baudrate_info *info)
{
    info->baudrate = read_number("/sim/console_baudrate", 9600);
    return 0;
}

int sendKillSignalToGetty(void)
{
    record_call("sendKillSignalToGetty");
    return 0;
}

int validate_baudrate(int baudrate)
{
    switch (baudrate) {
    case 1200: case 2400: case 4800: case 9600:
    case 19200: case 38400: case 57600: case 115200:
        return 0;
    default:
        return -1;
    }
}

int ip_helper_ntop(int family, const void *address, char *text, int size)
{
    const auto *a = static_cast<const unsigned char *>(address);
    if (family == AF_INET)
        return std::snprintf(text, static_cast<std::size_t>(size), "%u.%u.%u.%u", a[12], a[13], a[14], a[15]) < 0 ? -1 : 0;
    return ::inet_ntop(AF_INET6, a, text, static_cast<socklen_t>(size)) ? 0 : -1;
}

int writeDbgMsgToLogFile(const char *log_file, const char *source, int line, const char *function,
                         const char *format, ...)
{
    char message[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(message, sizeof message, format, ap);
    va_end(ap);
    std::string entry = std::string(source) + ":" + std::to_string(line) + " " + function + ": " + message;
    if (!entry.empty() && entry.back() == '\n')
        entry.pop_back();
    append_line(log_file, entry);
    return 0;
}

int set_sock_cloexec(int fd, int on)
{
    int flags = ::fcntl(fd, F_GETFD);
    if (flags < 0)
        return -1;
    return ::fcntl(fd, F_SETFD, on ? flags | FD_CLOEXEC : flags & ~FD_CLOEXEC);
}

int _close_sock(int *fd, const char *name, const char *source, int line)
{
    (void)name;
    (void)source;
    (void)line;
    int rc = ::close(*fd);
    *fd = -1;
    return rc;
}

} // extern "C"
