// Hostile text in every field, read back by the files' real consumers: glibc
// must parse exactly the account records the naming rule keeps, `sh` sourcing
// each key=value file must read exactly the stored values (no command run, no
// variable of its own), and snmpd.conf must hold no extra directive or word.
//
// Input: pieces separated by NUL bytes, in this order: userCount, then five
// user records (name, comment, hash, id, privilege), ldapGroupCount, five
// directory groups (name, description, id, privilege), then every text field
// of the layout (array elements included). Numbers are decimal text.
#include "fuzz_check.h"

#include "settings/layout.h"
#include "writers/compose.h"
#include "writers/netconf.h"
#include "writers/snmpd.h"
#include "writers/wrenconf.h"

#include <grp.h>
#include <pwd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace settings;

namespace {

using Image = std::vector<std::uint8_t>;
using Compose = void (*)(const std::uint8_t *, OutputBuffer &);

std::string dir;                       // where the key=value files are sourced
std::set<std::string> shell_baseline;  // variables of a shell that sourced nothing

void compose_netconf_file(const std::uint8_t *image, OutputBuffer &out)
{
    compose_netconf(image, convert_netconf_addresses(image), out);
}

struct KvFile {
    const char *name;
    Compose compose;
    std::vector<std::string> keys;  // from a blank image
};
KvFile kv_files[] = {{"wrenconf", compose_wrenconf, {}}, {"netconf", compose_netconf_file, {}},
                     {"ldapconf", compose_ldapconf, {}}, {"urb", compose_urb, {}},
                     {"fw", compose_fw_mgmt, {}},        {"kat", compose_kat_info, {}}};

std::string composed(auto compose)
{
    static OutputBuffer out;
    out.clear();
    compose(out);
    return std::string(out.text());
}

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);)
        parts.push_back(part);
    return parts;
}

std::string without(std::string s, std::string_view chars)
{
    std::erase_if(s, [&](char c) { return chars.find(c) != std::string_view::npos; });
    return s;
}

std::string controls()
{
    std::string s(":\x7f");
    for (char c = 1; c < ' '; ++c)
        s += c;
    return s;
}

// The naming rule, restated independently of the writers.
bool sound_name(const std::string &n, std::set<std::string> &seen)
{
    if (n.empty() || std::isspace(static_cast<unsigned char>(n.front())) ||
        std::isspace(static_cast<unsigned char>(n.back())) || std::string_view("#+-").find(n[0]) != std::string::npos ||
        n != without(n, controls()))
        return false;
    for (const char *fixed : {"wren", "nobody", "ldapuser", "mlnuser_", "kstuser_"})
        if (n == fixed)
            return false;
    return seen.insert(n).second;
}

std::vector<std::string> read_accounts(std::string text, bool groups)
{
    std::vector<std::string> entries;
    FILE *f = text.empty() ? nullptr : fmemopen(text.data(), text.size(), "r");
    while (f != nullptr && !groups)
        if (struct passwd *p = fgetpwent(f))
            entries.push_back(std::string(p->pw_name) + ":" + p->pw_passwd + ":" + std::to_string(p->pw_uid) + ":" +
                              std::to_string(p->pw_gid) + ":" + p->pw_gecos + ":" + p->pw_dir + ":" + p->pw_shell);
        else
            break;
    while (f != nullptr && groups)
        if (struct group *g = fgetgrent(f)) {
            entries.push_back(std::string(g->gr_name) + ":" + std::to_string(g->gr_gid) + ":");
            for (char **m = g->gr_mem; *m != nullptr; ++m)
                entries.back() += std::string(*m) + ",";
        } else {
            break;
        }
    if (f != nullptr)
        std::fclose(f);
    return entries;
}

void check_accounts(const Image &image)
{
    const UserLayout &users = user_layout(false);
    std::vector<std::string> passwd = split("wren:x:0:0:0,,:/:/bin/false\nnobody:x:99:3:0,Default User,:/:/bin/false\n"
                                            "ldapuser:none:5000:5000:0,LDAP Directory User,:/:/usr/bin/cli", '\n');
    std::string members[4];
    std::set<std::string> seen;
    unsigned count = std::min<unsigned>(get_u(image.data(), F("userCount")), users.records.count);
    for (unsigned i = 0; i < std::max(count, 1u); ++i) {
        const std::uint8_t *rec = record(image.data(), users.records, i);
        std::string name(get_text(rec, users.name)), hash(get_text(rec, users.hash));
        if (!sound_name(name, seen))
            continue;
        unsigned privilege = i == 0 ? 0 : get_u(rec, users.privilege);
        passwd.push_back(name + ":" + (hash == without(hash, controls()) ? hash : "*") + ":" +
                         std::to_string(i == 0 ? 1 : get_u(rec, users.id)) + ":" + std::to_string(privilege) + ":" +
                         without(std::string(get_text(rec, users.gecos)), controls()) + ":/:/usr/bin/cli");
        for (unsigned g = 0; g < 4 && i < count && name.find(',') == std::string::npos; ++g)
            if (privilege == g || (g == 1 && privilege == 0))
                members[g] += name + ",";
    }
    passwd.push_back("mlnuser_:$1$kept:100:0:0,Meshlane User,:/:/bin/false");
    passwd.push_back("kstuser_:x:101:2:0,Kesslet User,:/:/bin/false");
    LogEntries log;
    FUZZ_CHECK(read_accounts(composed([&](OutputBuffer &out) {
                                 compose_passwd(image.data(), users, {"$1$kept", std::nullopt}, out, log);
                             }),
                             false) == passwd);
    std::vector<std::string> group = {"wren:0:wren,", "nobody:99:", "admin:0:" + members[0] + "mlnuser_,",
                                      "oper:1:" + members[1] + "mlnuser_,", "user:2:" + members[2],
                                      "anonymous:3:" + members[3]};
    FUZZ_CHECK(read_accounts(composed([&](OutputBuffer &out) { compose_group(image.data(), users, out, log); }),
                             true) == group);

    std::vector<std::string> ldapgroup;
    seen.clear();
    for (unsigned j = 0; j < std::min<unsigned>(get_u(image.data(), F("ldapGroupCount")), 5); ++j) {
        const std::uint8_t *rec = record(image.data(), F("ldapGroupRecords"), j);
        std::string name(get_text(rec, Group("ldapGroupName")));
        if (sound_name(name, seen))
            ldapgroup.push_back(name + ":x:" + std::to_string(get_u(rec, Group("ldapGroupId"))) + ":" +
                                std::to_string(get_u(rec, Group("ldapGroupPrivilege"))) + ":" +
                                without(std::string(get_text(rec, Group("ldapGroupDescription"))), controls()) +
                                ":/:/usr/bin/cli");
    }
    FUZZ_CHECK(read_accounts(composed([&](OutputBuffer &out) { compose_ldapgroup(image.data(), out, log); }),
                             false) == ldapgroup);
}

// What a shell must read for `key`: the stored text, or the file's own
// characters for numbers and addresses.
std::string expected_value(const Image &image, const std::string &key, const std::string &file)
{
    const Field *f = find_field(kLayout40, key);
    if (f == nullptr || f->type != T::Text) {
        std::size_t at = ("\n" + file).find("\n" + key + "=");
        FUZZ_CHECK(at != std::string::npos);
        return file.substr(at + key.size() + 1, file.find('\n', at) - at - key.size() - 1);
    }
    std::string stored(get_text(image.data(), *f).substr(0, key == "enclosureName" ? ENC_NAME_MAX : f->size));
    return without(stored, key == "lcdUserNotes" || key == "senderName" ? "\r\n\"'`" : "\r\n");
}

// One shell sources every file in a subshell of its own and prints the
// keys' values and then its variables, NUL-separated.
void check_shell(const Image &image)
{
    std::string script;
    std::vector<std::string> texts;
    for (const KvFile &kv : kv_files) {
        texts.push_back(composed([&](OutputBuffer &out) { kv.compose(image.data(), out); }));
        std::ofstream(dir + "/" + kv.name) << texts.back();
        script += std::string("(. ./") + kv.name + " && printf '%s\\0'";
        for (const std::string &key : kv.keys)
            script += " \"$" + key + "\"";
        script += " && set && printf '\\0')\n";
    }
    std::ofstream(dir + "/check") << script;
    FILE *p = ::popen(("cd " + dir + " && env -i PATH=/nonexistent /bin/sh ./check 2>&1").c_str(), "r");
    std::string out;
    for (int c; (c = std::fgetc(p)) != EOF;)
        out += static_cast<char>(c);
    FUZZ_CHECK(::pclose(p) == 0);
    std::vector<std::string> got = split(out, '\0');
    std::size_t at = 0;
    for (std::size_t k = 0; k < std::size(kv_files); ++k) {
        FUZZ_CHECK(split(texts[k], '\n').size() == kv_files[k].keys.size());
        for (const std::string &key : kv_files[k].keys)
            FUZZ_CHECK(at < got.size() && got[at++] == expected_value(image, key, texts[k]));
        FUZZ_CHECK(at < got.size());
        for (const std::string &line : split(got[at++], '\n')) {
            std::string name = line.substr(0, line.find('='));
            FUZZ_CHECK(line.find('=') == std::string::npos || shell_baseline.contains(name) ||
                       std::count(kv_files[k].keys.begin(), kv_files[k].keys.end(), name) == 1);
        }
    }
}

// Six directives, then trapsink lines of a host and at most a community.
void check_snmpd(const Image &image)
{
    std::vector<std::string> lines =
        split(composed([&](OutputBuffer &out) { compose_snmpd_conf(image.data(), out); }), '\n');
    const char *heads[] = {"syslocation ", "syscontact ", "rocommunity ", "rocommunity6 ", "rwcommunity ",
                           "rwcommunity6 "};
    FUZZ_CHECK(lines.size() >= 6 && lines.size() <= 14);
    for (std::size_t k = 0; k < lines.size(); ++k) {
        FUZZ_CHECK(lines[k].starts_with(k < 6 ? heads[k] : "trapsink "));
        std::vector<std::string> words = split(lines[k], ' ');
        FUZZ_CHECK(k < 6 || (words.size() <= 3 && words[1] != "" && words[1][0] != '#' &&
                             lines[k].find('\t') == std::string::npos));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_sim_root();
    dir = std::getenv("CFGPULL_SIM_ROOT");
    Image blank(IMAGE_SIZE, 0);
    for (KvFile &kv : kv_files)
        for (const std::string &line : split(composed([&](OutputBuffer &out) { kv.compose(blank.data(), out); }), '\n'))
            kv.keys.push_back(line.substr(0, line.find('=')));
    std::ofstream(dir + "/check") << "set\n";
    FILE *p = ::popen(("cd " + dir + " && env -i PATH=/nonexistent /bin/sh ./check").c_str(), "r");
    for (char line[256]; std::fgets(line, sizeof line, p) != nullptr;)
        shell_baseline.insert(std::string(line).substr(0, std::string(line).find('=')));
    ::pclose(p);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::string> pieces = split(std::string(reinterpret_cast<const char *>(data), size), '\0');
    std::size_t next = 0;
    auto piece = [&] { return next < pieces.size() ? pieces[next++] : std::string(); };
    auto number = [&](std::uint8_t *base, Field f) { set_u(base, f, static_cast<std::uint32_t>(std::atol(piece().c_str()))); };
    Image image(IMAGE_SIZE, 0);
    const UserLayout &users = user_layout(false);
    number(image.data(), F("userCount"));
    for (unsigned i = 0; i < 5; ++i) {
        std::uint8_t *rec = record(image.data(), users.records, i);
        for (Field f : {users.name, users.gecos, users.hash})
            set_text(rec, f, piece());
        number(rec, users.id);
        number(rec, users.privilege);
    }
    number(image.data(), F("ldapGroupCount"));
    for (unsigned j = 0; j < 5; ++j) {
        std::uint8_t *rec = record(image.data(), F("ldapGroupRecords"), j);
        set_text(rec, Group("ldapGroupName"), piece());
        set_text(rec, Group("ldapGroupDescription"), piece());
        number(rec, Group("ldapGroupId"));
        number(rec, Group("ldapGroupPrivilege"));
    }
    for (const Field &f : kLayout40)
        for (unsigned k = 0; f.type == T::Text && k < f.count; ++k)
            set_text(image.data(), f, piece(), k);
    check_accounts(image);
    check_shell(image);
    check_snmpd(image);
    return 0;
}
