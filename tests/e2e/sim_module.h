// A temporary simulated module for end-to-end tests: a root directory with
// the module's folders, and a runner for the built executables inside it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

class SimModule {
public:
    SimModule();  // dev/, etc/, etc/snmp/, ramdisk/, sim/, usr/sbin/, proc/sys/crypto/
    ~SimModule();
    SimModule(const SimModule &) = delete;
    SimModule &operator=(const SimModule &) = delete;

    const std::filesystem::path &root() const { return root_; }
    std::filesystem::path at(const std::string &module_path) const;  // "/etc/passwd" -> root/etc/passwd

    void write(const std::string &module_path, const std::string &content) const;
    void write_bytes(const std::string &module_path, const std::vector<std::uint8_t> &bytes) const;
    std::string read(const std::string &module_path) const;  // "" when missing
    std::vector<std::uint8_t> read_bytes(const std::string &module_path) const;
    bool exists(const std::string &module_path) const;

    // Encodes a 10927-byte settings image onto dev/env.
    void write_image(const std::vector<std::uint8_t> &image) const;
    // Decodes dev/env (every codeword must be correctable).
    std::vector<std::uint8_t> read_image() const;

    std::string calls() const { return read("/sim/calls.log"); }
    std::string syslog() const { return read("/sim/syslog"); }

    // Runs <build>/bin/<program> with CFGPULL_SIM_ROOT set to this root.
    // A non-negative file_size_limit makes writes beyond it fail (EFBIG); a
    // run still going after timeout_seconds is killed (status 128 + SIGALRM).
    // Safe to call from several threads at once.
    RunResult run(const std::string &program, const std::vector<std::string> &args,
                  long file_size_limit = -1, unsigned timeout_seconds = 0) const;

    // True when another run takes the settings lock at once.
    bool lock_is_free() const;

    // Board type 3 with working identity and FRU EEPROMs, FIPS mode off.
    void install_board(const std::string &default_password = "Adm1n!pw") const;
    // The default boot loader environment with a correct CRC.
    void install_uboot() const;
    // The built cfgpush as usr/sbin/cfgpush.
    void install_cfgpush() const;
    // All three, and an erased /dev/env.
    void make_blank() const;

private:
    std::filesystem::path root_;
};

// Path of a built executable.
std::string bin_path(const std::string &program);

// A settings image of the current version with magic "ZRN" and a few fields set.
std::vector<std::uint8_t> sample_image();
