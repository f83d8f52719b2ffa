#include "cli/run.h"

#include "store/exit.h"
#include "store/lock.h"
#include "store/replace.h"
#include "settings/load.h"
#include "settings/image.h"
#include "writers/writers.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string_view>

int current_option = 0;

namespace {

const char kOptions[] = "AabeFnugxvlGsK";

void write_all_settings()
{
    write_enclosure_settings_to_fs();
    write_network_settings_to_fs();
    write_user_settings_to_fs();
    write_group_settings_to_fs();
    write_blade_signatures_to_fs();
    write_urb_settings_to_fs();
    write_fw_mgmt_settings_to_fs();
    write_kat_info_to_fs();
}

// One option: its load, then its writers in their order.
void act_on(int option)
{
    if (option == 's') {
        preserve_format = 1;
        return;
    }
    if (option == '?') {
        usage();
        return;
    }
    nvram_load(option, nullptr);
    switch (option) {
    case 'A': nvram_store(nullptr); write_all_settings(); break;
    case 'a': write_all_settings(); break;
    case 'b': write_bay_settings_to_fs(); break;
    case 'e': write_enclosure_settings_to_fs(); break;
    case 'F': write_fw_mgmt_settings_to_fs(); break;
    case 'n': write_network_settings_to_fs(); break;
    case 'u': write_user_settings_to_fs(); write_group_settings_to_fs(); break;
    case 'g': write_group_settings_to_fs(); break;
    case 'x': write_blade_signatures_to_fs(); write_fw_mgmt_settings_to_fs(); break;
    case 'v': write_mln_settings_to_fs(); break;
    case 'l': write_ldap_settings_to_fs(); break;
    case 'G': write_ldap_group_settings_to_fs(); break;
    case 'K': write_kat_info_to_fs(); break;
    default: break;
    }
}

void write_usage(FILE *to)
{
    static const char *const lines[] = {
        "cfgpull: Read settings from NVRAM and store in fs\n",
        "\t-A, \tdo all settings, truncate pad in nvram\n",
        "\t-a, \tdo all settings\n",
        "\t-b, \tdo only bayconf settings\n",
        "\t-e, \tdo only enclosure settings\n",
        "\t-n, \tdo only network settings\n",
        "\t-u, \tdo only user and group settings\n",
        "\t-x, \tdo only blade signatures\n",
        "\t-v, \tdo only MLN settings\n",
        "\t-l, \tdo only ldapconf settings\n",
        "\t-G, \tdo only ldapgroup settings\n",
        "\t-F, \tdo only fw_mgmt settings\n",
        "\t-K, \tdo only KAT info\n",
        "\t-???, \tetc.\n",
    };
    for (const char *line : lines)
        std::fputs(line, to);
}

// getopt would read "--help" as -h -e -l -p and act on the module, so long
// options are answered here, before the lock and before any option acts.
// A bare "--" ends the options as getopt has it: what follows are operands.
std::optional<int> answer_long_option(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--")
            return std::nullopt;
        if (!arg.starts_with("--"))
            continue;
        if (arg == "--help") {
            write_usage(stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("cfgpull %s\n", CFGPULL_VERSION);
            return 0;
        }
        std::fprintf(stderr, "cfgpull: unknown option %s\n", argv[i]);
        write_usage(stderr);
        return 64;
    }
    return std::nullopt;
}

} // namespace

void usage(void)
{
    write_usage(stderr);
}

int cfgpull_main(int argc, char **argv)
{
    if (argc < 2) {
        usage();
        return 0;
    }
    if (std::optional<int> status = answer_long_option(argc, argv))
        return *status;
    env_lock_acquire(nullptr);
    int c;
    while ((c = getopt(argc, argv, kOptions)) != -1) {
        current_option = c;
        act_on(current_option);
    }
    // The renames of the run reach the disk before it says it succeeded.
    if (int err = sync_changed_directories()) {
        errno = err;
        std::perror("Can't sync the directories of the configuration files");
        cleanup_and_exit(1);
    }
    cleanup_and_exit(0);
}
