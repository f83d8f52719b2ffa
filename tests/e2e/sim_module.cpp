#include "sim_module.h"

#include "store/nvram.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

std::string bin_path(const std::string &program)
{
    return std::string(CFG_BIN_DIR) + "/" + program;
}

void exec_built(const std::string &program, const std::vector<std::string> &args)
{
    // A cross-built executable runs through the same emulator as the tests.
    std::vector<std::string> argv_s;
    if (*CFG_EMULATOR != '\0')
        argv_s.emplace_back(CFG_EMULATOR);
    argv_s.push_back(bin_path(program));
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &a : argv_s)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

SimModule::SimModule()
{
    std::string templ = (fs::temp_directory_path() / "cfgsim.XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    root_ = templ;
    for (const char *d : {"dev", "etc/snmp", "ramdisk", "sim/i2c", "usr/sbin", "proc/sys/crypto"})
        fs::create_directories(root_ / d);
}

SimModule::~SimModule()
{
    std::error_code ec;
    fs::remove_all(root_, ec);
}

fs::path SimModule::at(const std::string &module_path) const
{
    return root_ / module_path.substr(module_path.find_first_not_of('/'));
}

void SimModule::write(const std::string &module_path, const std::string &content) const
{
    fs::create_directories(at(module_path).parent_path());
    std::ofstream(at(module_path), std::ios::binary | std::ios::trunc) << content;
}

void SimModule::write_bytes(const std::string &module_path, const std::vector<std::uint8_t> &bytes) const
{
    write(module_path, std::string(bytes.begin(), bytes.end()));
}

std::string SimModule::read(const std::string &module_path) const
{
    return slurp(at(module_path));
}

std::vector<std::uint8_t> SimModule::read_bytes(const std::string &module_path) const
{
    std::string s = read(module_path);
    return {s.begin(), s.end()};
}

bool SimModule::exists(const std::string &module_path) const
{
    return fs::exists(at(module_path));
}

void SimModule::install(const std::string &program, const std::string &module_path) const
{
    fs::create_directories(at(module_path).parent_path());
    if (*CFG_EMULATOR == '\0') {
        fs::copy_file(bin_path(program), at(module_path), fs::copy_options::overwrite_existing);
        return;
    }
    write(module_path, "#!/bin/sh\nexec " + std::string(CFG_EMULATOR) + " " + bin_path(program) + " \"$@\"\n");
    fs::permissions(at(module_path), fs::perms::owner_all, fs::perm_options::add);
}

void SimModule::write_image(const std::vector<std::uint8_t> &image) const
{
    std::vector<std::uint8_t> copy = image;
    copy.resize(settings::IMAGE_SIZE);
    std::vector<std::uint8_t> raw(RAW_IMAGE_SIZE);
    encode_image(copy.data(), raw.data());
    write_bytes("/dev/env", raw);
}

std::vector<std::uint8_t> SimModule::read_image() const
{
    std::vector<std::uint8_t> raw = read_bytes("/dev/env");
    raw.resize(RAW_IMAGE_SIZE);
    std::vector<std::uint8_t> image(settings::IMAGE_SIZE);
    DecodeResult r = decode_raw_image(raw.data(), image.data());
    if (r.failed_block >= 0)
        throw std::runtime_error("dev/env holds an uncorrectable block");
    return image;
}

RunResult SimModule::run(const std::string &program, const std::vector<std::string> &args,
                         long file_size_limit) const
{
    fs::path out = root_ / ".run.out", err = root_ / ".run.err";
    pid_t pid = ::fork();
    if (pid == 0) {
        int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(o, 1);
        ::dup2(e, 2);
        ::setenv("CFGPULL_SIM_ROOT", root_.c_str(), 1);
        if (file_size_limit >= 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            struct rlimit lim = {static_cast<rlim_t>(file_size_limit), static_cast<rlim_t>(file_size_limit)};
            ::setrlimit(RLIMIT_FSIZE, &lim);
        }
        exec_built(program, args);
    }
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    RunResult r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

std::vector<std::uint8_t> sample_image()
{
    std::vector<std::uint8_t> image(settings::IMAGE_SIZE, 0);
    std::memcpy(image.data(), "ZRN", 3);
    settings::set_u(image.data(), settings::F("version"), settings::CURRENT_VERSION);
    settings::set_text(image.data(), settings::F("enclosureName"), "Rack7-Encl2");
    settings::set_u(image.data(), settings::F("baudRate"), 9600);
    return image;
}
