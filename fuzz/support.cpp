#include "fuzz_check.h"

#include "writers/compose.h"
#include "writers/netconf.h"
#include "writers/snmpd.h"
#include "writers/wrenconf.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

void fuzz_sim_root(std::initializer_list<std::pair<const char *, const char *>> files)
{
    namespace fs = std::filesystem;
    std::string templ = (fs::temp_directory_path() / "cfgfuzz.XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr)
        std::abort();
    for (const auto &[path, text] : files) {
        fs::path p = fs::path(templ) / (path + 1);
        fs::create_directories(p.parent_path());
        std::ofstream(p) << text;
    }
    ::setenv("CFGPULL_SIM_ROOT", templ.c_str(), 1);
}

std::vector<ComposedFile> compose_all(const std::uint8_t *image, const settings::UserLayout &users, LogEntries &log)
{
    OutputBuffer out;
    std::vector<ComposedFile> files;
    auto add = [&](const char *name, auto compose) {
        out.clear();
        compose();
        files.push_back({name, std::string(out.text())});
    };
    add("wrenconf", [&] { compose_wrenconf(image, out); });
    add("netconf", [&] { compose_netconf(image, convert_netconf_addresses(image), out); });
    add("ldapconf", [&] { compose_ldapconf(image, out); });
    add("urb", [&] { compose_urb(image, out); });
    add("fw", [&] { compose_fw_mgmt(image, out); });
    add("kat", [&] { compose_kat_info(image, out); });
    add("snmpd", [&] { compose_snmpd_conf(image, out, log); });
    add("passwd", [&] { compose_passwd(image, users, {std::string("$1$kept"), std::nullopt}, out, log); });
    add("group", [&] { compose_group(image, users, out, log); });
    add("ldapgroup", [&] { compose_ldapgroup(image, out, log); });
    add("bayconf", [&] { compose_bayconf(image, users, out, log); });
    files.push_back({"bladesig", compose_bladesig(image)});
    files.push_back({"mlninfo", compose_mlninfo(image)});
    return files;
}
