// blank_module: a simulated module as it leaves the factory line, in DIR
// (for CFGPULL_SIM_ROOT): board type 3 with its identity and FRU EEPROMs on
// the I2C bus, the boot loader's default environment, FIPS mode off (--fips:
// on), cfgpush installed from beside this program, and an erased /dev/env or,
// with --image, a copy of a module's device. The one maker of a module for
// people and for the tests.
#include "bootenv/uboot_env.h"
#include "store/nvram.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char kUsage[] = "usage: blank_module [--fips] [--image ENV] [--password P] DIR\n";

struct Options {
    bool fips = false;
    std::string image, password = "Adm1n!pw", dir;
};

bool parse(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--fips")
            o.fips = true;
        else if ((arg == "--image" || arg == "--password") && i + 1 < argc)
            (arg == "--image" ? o.image : o.password) = argv[++i];
        else if (arg.starts_with("-") || !o.dir.empty())
            return false;
        else
            o.dir = arg;
    }
    return !o.dir.empty();
}

void put(const fs::path &path, const std::string &bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

char checksum(const std::string &bytes)
{
    unsigned sum = 0;
    for (unsigned char c : bytes)
        sum += c;
    return static_cast<char>(-sum & 0xFF);
}

// Identity EEPROM of board type 3 (address 0x52): its record at offset 16,
// the unique id and the default password, checksummed.
std::string identity_eeprom(const std::string &password)
{
    std::string record = std::string(7, '\0') + std::string("\x00\x50\xC2\xA1\xB2\xC3", 6) + password;
    record.resize(21, '\0');
    record += checksum(record);
    return std::string(16, '\0') + record + std::string(64, '\0');
}

// FRU EEPROM behind multiplexer 0x75: the common header, then the chassis
// information area with the part and serial numbers.
std::string fru_eeprom()
{
    auto text_field = [](const std::string &s) { return std::string(1, static_cast<char>(0xC0 | s.size())) + s; };
    std::string area = std::string("\x01\x00\x17", 3) + text_field("PN-5521-07") + text_field("SN0042A7731") + "\xC1";
    area.resize((area.size() + 1 + 7) / 8 * 8 - 1, '\0');
    area[1] = static_cast<char>((area.size() + 1) / 8);
    area += checksum(area);
    std::string header("\x01\x00\x01\x00\x00\x00\x00", 7);
    header += checksum(header);
    std::string fru = header + area;
    fru.resize(512, '\0');
    return fru;
}

// The default entries and their end mark on an erased block.
std::string default_boot_environment()
{
    std::string block(kUbootEnvSize, '\xFF');
    std::string_view env(reinterpret_cast<const char *>(uboot_default_env), sizeof uboot_default_env);
    std::size_t end = env.find(std::string_view("\0\0", 2)) + 2;
    block.replace(kUbootEnvData, end, env.substr(0, end));
    uboot_env_store_crc(reinterpret_cast<unsigned char *>(block.data()));
    return block;
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    if (!parse(argc, argv, o)) {
        std::fputs(kUsage, stderr);
        return 64;
    }
    std::string env(kRawImageSize, '\xFF');
    if (!o.image.empty()) {
        std::error_code ec;
        std::uintmax_t size = fs::file_size(o.image, ec);
        std::ifstream in(o.image, std::ios::binary);
        if (ec || size != kRawImageSize || !in.read(env.data(), static_cast<std::streamsize>(env.size()))) {
            std::fprintf(stderr, "blank_module: %s: not a copy of /dev/env (%zu bytes)\n", o.image.c_str(),
                         kRawImageSize);
            return 1;
        }
    }
    const fs::path root = o.dir;
    for (const char *dir : {"etc/snmp", "ramdisk", "usr/sbin"})
        fs::create_directories(root / dir);
    put(root / "dev/env", env);
    put(root / "dev/i2c0", "");
    put(root / "dev/uboot", default_boot_environment());
    put(root / "proc/sys/crypto/fips_enabled", o.fips ? "1\n" : "0\n");
    put(root / "etc/gpio_states", "ZELMARBOARDTYPE=3\n");
    put(root / "sim/i2c/52", identity_eeprom(o.password));
    put(root / "sim/i2c/56", fru_eeprom());
    put(root / "sim/i2c/75", std::string(1, '\0'));
    // A factory restore for any option but -a runs the module's cfgpush.
    std::error_code ec;
    fs::path cfgpush = fs::read_symlink("/proc/self/exe", ec).parent_path() / "cfgpush";
    if (ec || !fs::copy_file(cfgpush, root / "usr/sbin/cfgpush", fs::copy_options::overwrite_existing, ec))
        std::fprintf(stderr, "blank_module: no cfgpush beside this program; a factory restore other than "
                             "cfgpull -a will fail\n");
    return 0;
}
