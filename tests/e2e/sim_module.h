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

    // Puts a built executable at module_path, for programs the tool itself
    // runs (/usr/sbin/cfgpush). In a cross build it is a script that runs the
    // executable through the emulator, since the module's shell cannot.
    void install(const std::string &program, const std::string &module_path) const;

    std::string calls() const { return read("/sim/calls.log"); }
    std::string syslog() const { return read("/sim/syslog"); }

    // Runs <build>/bin/<program> with CFGPULL_SIM_ROOT set to this root.
    // A non-negative file_size_limit makes writes beyond it fail (EFBIG).
    RunResult run(const std::string &program, const std::vector<std::string> &args,
                  long file_size_limit = -1) const;

private:
    std::filesystem::path root_;
};

// Path of a built executable.
std::string bin_path(const std::string &program);

// Replaces the calling (forked) process with a built executable; 127 when exec fails.
[[noreturn]] void exec_built(const std::string &program, const std::vector<std::string> &args);

// A settings image of the current version with magic "ZRN" and a few fields set.
std::vector<std::uint8_t> sample_image();
