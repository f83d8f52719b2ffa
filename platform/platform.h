// The module's platform: the management library's operations and every
// contact with the world outside this program. The sim flavour resolves
// module paths inside $CFGPULL_SIM_ROOT and simulates the library and the
// I2C bus; the target flavour uses the board's devices and libraries.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

// Management platform library (C linkage, as the board's libmgmt exports it).
extern "C" {

// Status record of a management module; bytes 6 and 11 are what we test.
struct em_status {
    unsigned char bytes[64];
};

// Baud-rate record of the console; the first word is the current rate.
struct zelmar_baudrate_info {
    int baudrate;
    int reserved[7];
};

// Lock-state record for lock_file_rw/unlock_file.
struct mgmt_file_lock {
    int state[8];
};

int get_fips_mode_no_auth(int *fips_mode);
int lock_file_rw(int fd, struct mgmt_file_lock *lock);
int unlock_file(int fd, struct mgmt_file_lock *lock);
int em_openssl_make_salt(char *salt, int size, int kind);
int em_openssl_make_fips_salt(char *salt, int size, int kind);
int get_rand_password(char *buffer, int size);
void *em_safe_memset(void *buffer, int value, size_t length);
int is_login_allowed(void);
int get_em_id(void);
int get_em_status(int em_id, struct em_status *status);
int em_failover(void);
int enc_reboot(int delay);
int get_zelmar_baudrate_info(struct zelmar_baudrate_info *info);
int sendKillSignalToGetty(void);
int validate_baudrate(int baudrate);
int ip_helper_ntop(int family, const void *address, char *text, int size);
int writeDbgMsgToLogFile(const char *log_file, const char *source, int line, const char *function,
                         const char *format, ...) __attribute__((format(printf, 5, 6)));
int set_sock_cloexec(int fd, int on);
int _close_sock(int *fd, const char *name, const char *source, int line);

// fipscheck: non-zero when the system is configured for FIPS mode.
int FIPSCHECK_fips_mode_configured(void);
}

namespace platform {

// A file descriptor owned by one object and closed with it.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(Fd &&other) noexcept : fd_(other.release()) {}
    Fd &operator=(Fd &&other) noexcept;
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    int release();
    void reset(int fd = -1);
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};

// The module's root directory: "/" on the board, $CFGPULL_SIM_ROOT in the
// simulation (a run without it ends there, with status 255).
std::string root_directory();
// False only where the simulation has no root to resolve paths in.
bool root_known();

// The module's persistent folder, which holds the account files: what must
// outlive a power cut inside a device write is kept there too.
inline constexpr char kPersistentFolder[] = "/etc";

// The path to show for an absolute module path ("/dev/env").
std::string path(const char *module_path);

// A module path resolved inside the root: the directory that holds the file
// (an O_PATH descriptor) and its name there. Symbolic links are followed, a
// last one included, as if the root were "/": an absolute target starts
// again at the root and ".." stops there, so no link leads out of it. The
// root and the folders reached without a link are kept open for the run,
// so the files of one folder cost one look each.
struct Location {
    int dir;           // valid while the Location lives
    std::string name;
    Fd owned;          // `dir`, when it is not one the run keeps
};
std::optional<Location> locate(const char *module_path);  // none: errno tells why

// open(2) on a module path, resolved as `locate` does. Only regular files
// and devices are opened: a FIFO or socket is refused at once with ENXIO
// and a directory with EISDIR, so that no run waits on one while it holds
// the settings lock.
int open(const char *module_path, int flags, mode_t mode = 0);
// The same for a path already located.
int open_at(const Location &at, int flags, mode_t mode = 0);

// Whether `st` describes the file at `module_path`; false when that cannot
// be told (no root, no such file).
bool is_module_file(const char *module_path, const struct stat &st);

// One syslog entry, opened and closed around the message.
void log(const char *ident, int facility, int priority, const char *text);

int system(const char *command);
unsigned sleep(unsigned seconds);

// The I2C bus behind /dev/i2c0.
int i2c_open();
int i2c_select(int fd, int address);  // ioctl I2C_SLAVE
ssize_t i2c_read(int fd, void *buffer, std::size_t length);
ssize_t i2c_write(int fd, const void *buffer, std::size_t length);
void i2c_close(int fd);

} // namespace platform
