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
    // dev/, etc/, etc/snmp/, ramdisk/, sim/, usr/sbin/, proc/sys/crypto/, in
    // a new directory whose name ends in `name_suffix`.
    explicit SimModule(const std::string &name_suffix = "");
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

    // Puts a built executable at module_path, for programs the tool itself
    // runs (/usr/sbin/cfgpush). In a cross build it is a script that runs the
    // executable through the emulator, since the module's shell cannot.
    void install(const std::string &program, const std::string &module_path) const;

    std::string calls() const { return read("/sim/calls.log"); }

    // A module as it leaves the factory line, with nothing stored yet, as
    // blank_module makes it: board type 3 (identity EEPROM at 0x52 holding
    // `password`, FRU EEPROM behind multiplexer 0x75 with serial
    // "SN0042A7731", part "PN-5521-07"), FIPS off, the default boot loader
    // environment, cfgpush installed, and an erased /dev/env.
    void make_blank(const std::string &password = "Adm1n!pw") const;
    std::string syslog() const { return read("/sim/syslog"); }

    // Runs <build>/bin/<program> with CFGPULL_SIM_ROOT set to this root.
    // A non-negative file_size_limit makes writes beyond it fail (EFBIG); a
    // run still going after timeout_seconds is killed (status 128 + SIGALRM).
    // `env` entries NAME=VALUE are set after the root (an empty value unsets
    // NAME). Safe to call from several threads at once.
    RunResult run(const std::string &program, const std::vector<std::string> &args,
                  long file_size_limit = -1, unsigned timeout_seconds = 0,
                  const std::vector<std::string> &env = {}) const;

    // True when another run takes the settings lock at once.
    bool lock_is_free() const;

private:
    std::filesystem::path root_;
};

// A boot loader environment block: the entries, the end mark, `pad` after
// it, and the CRC big-endian over the data area.
std::vector<std::uint8_t> uboot_block(const std::vector<std::string> &entries, std::uint8_t pad = 0xFF);
// The environment a module boots with when its stored one is unusable, as
// entries.
const std::vector<std::string> &default_uboot_entries();

// Path of a built executable; an absolute path is a host program (run as
// it is, never through the emulator).
std::string bin_path(const std::string &program);

// A settings image of the current version with magic "ZRN" and a few fields set.
std::vector<std::uint8_t> sample_image();

// Replaces the calling (forked) process with a built executable (or, by an
// absolute path, a host program); 127 when exec fails.
[[noreturn]] void exec_built(const std::string &program, const std::vector<std::string> &args);
