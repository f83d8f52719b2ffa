// Hostile text in every field, read back by the files' real consumers: glibc
// must parse exactly the account records the naming rule keeps, `sh` sourcing
// each key=value file must read exactly the stored values (no command run, no
// variable of its own), and snmpd.conf must hold no extra directive or word.
//
// Input: pieces separated by NUL bytes, in this order: userCount, five user
// records (name, comment, hash, id, privilege), ldapGroupCount, five
// directory groups (name, description, id, privilege), then every text field
// of the layout, array elements included. Numbers are decimal text.
#include "fuzz_check.h"

#include "writers/compose.h"
#include "writers/wrenconf.h"

#include <grp.h>
#include <pwd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace settings;

namespace {

using Image = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

constexpr std::size_t kKeyValueFiles = 6;  // compose_all's first files

std::string dir;                // the scratch root, where the files are sourced
std::set<std::string> allowed;  // variables a shell has before sourcing anything
Lines keys[kKeyValueFiles];     // each key=value file's keys, from a blank image

const std::string &text_of(const std::vector<ComposedFile> &files, std::string_view name)
{
    return std::find_if(files.begin(), files.end(), [&](const ComposedFile &f) { return name == f.name; })->text;
}

Lines split(const std::string &text, char separator)
{
    Lines parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);)
        parts.push_back(part);
    return parts;
}

std::string cleaned(std::string_view text)
{
    std::string s;
    for (char c : text)
        if (static_cast<unsigned char>(c) >= ' ' && c != 0x7F && c != ':')
            s += c;
    return s;
}

// The naming rule, restated.
bool kept_name(const std::string &n, std::set<std::string> &seen)
{
    return !n.empty() && !std::isspace(static_cast<unsigned char>(n.front())) &&
           !std::isspace(static_cast<unsigned char>(n.back())) && std::string("#+-").find(n[0]) == std::string::npos &&
           n == cleaned(n) && n != "wren" && n != "nobody" && n != "ldapuser" && n != "mlnuser_" &&
           n != "kstuser_" && seen.insert(n).second;
}

// Each entry glibc reads, its fields joined by ':' (members ending in ',').
Lines read_back(std::string text, bool groups)
{
    Lines entries;
    text += '\n';  // never empty: glibc skips blank lines
    FILE *f = fmemopen(text.data(), text.size(), "r");
    while (struct passwd *p = groups ? nullptr : fgetpwent(f))
        entries.push_back(std::string(p->pw_name) + ":" + p->pw_passwd + ":" + std::to_string(p->pw_uid) + ":" +
                          std::to_string(p->pw_gid) + ":" + p->pw_gecos + ":" + p->pw_dir + ":" + p->pw_shell);
    while (struct group *g = groups ? fgetgrent(f) : nullptr) {
        entries.push_back(std::string(g->gr_name) + ":" + std::to_string(g->gr_gid) + ":");
        for (char **m = g->gr_mem; *m != nullptr; ++m)
            entries.back() += std::string(*m) + ",";
    }
    std::fclose(f);
    return entries;
}

void check_accounts(const Image &image, const std::vector<ComposedFile> &files)
{
    const UserLayout &users = user_layout(false);
    Lines passwd = {"wren:x:0:0:0,,:/:/bin/false", "nobody:x:99:3:0,Default User,:/:/bin/false",
                    "ldapuser:none:5000:5000:0,LDAP Directory User,:/:/usr/bin/cli"};
    std::string members[4];
    std::set<std::string> seen;
    unsigned count = std::min<unsigned>(get_u(image.data(), F("userCount")), users.records.count);
    for (unsigned i = 0; i < std::max(count, 1u); ++i) {
        const std::uint8_t *rec = record(image.data(), users.records, i);
        std::string name(get_text(rec, users.name)), hash(get_text(rec, users.hash));
        unsigned privilege = i == 0 ? 0 : get_u(rec, users.privilege);
        if (!kept_name(name, seen))
            continue;
        passwd.push_back(name + ":" + (hash == cleaned(hash) ? hash : "*") + ":" +
                         std::to_string(i == 0 ? 1 : get_u(rec, users.id)) + ":" + std::to_string(privilege) + ":" +
                         cleaned(get_text(rec, users.gecos)) + ":/:/usr/bin/cli");
        for (unsigned g = 0; g < 4 && i < count && name.find(',') == std::string::npos; ++g)
            if (privilege == g || (g == 1 && privilege == 0))
                members[g] += name + ",";
    }
    passwd.insert(passwd.end(), {"mlnuser_:$1$kept:100:0:0,Meshlane User,:/:/bin/false",
                                 "kstuser_:x:101:2:0,Kesslet User,:/:/bin/false"});
    const std::string &text = text_of(files, "passwd");
    FUZZ_CHECK(read_back(text, false) == passwd);
    FUZZ_CHECK(kept_passwords_in(text).mlnuser == "$1$kept" && kept_passwords_in(text).kstuser == "x");
    Lines group = {"wren:0:wren,", "nobody:99:", "admin:0:" + members[0] + "mlnuser_,",
                   "oper:1:" + members[1] + "mlnuser_,", "user:2:" + members[2], "anonymous:3:" + members[3]};
    FUZZ_CHECK(read_back(text_of(files, "group"), true) == group);

    Lines directory;
    seen.clear();
    for (unsigned j = 0; j < std::min<unsigned>(get_u(image.data(), F("ldapGroupCount")), 5); ++j) {
        const std::uint8_t *rec = record(image.data(), F("ldapGroupRecords"), j);
        if (std::string name(get_text(rec, Group("ldapGroupName"))); kept_name(name, seen))
            directory.push_back(name + ":x:" + std::to_string(get_u(rec, Group("ldapGroupId"))) + ":" +
                                std::to_string(get_u(rec, Group("ldapGroupPrivilege"))) + ":" +
                                cleaned(get_text(rec, Group("ldapGroupDescription"))) + ":/:/usr/bin/cli");
    }
    FUZZ_CHECK(read_back(text_of(files, "ldapgroup"), false) == directory);
}

// What a shell must read for `key`: the stored text (cut and cleaned as the
// file's format says), or the file's own characters for other values.
std::string expected(const Image &image, const std::string &key, const std::string &file)
{
    const Field *f = find_field(kLayout40, key);
    std::size_t at = ("\n" + file).find("\n" + key + "=") + key.size() + 1;
    if (f == nullptr || f->type != T::Text)
        return file.substr(at, file.find('\n', at) - at);
    std::string_view stored = get_text(image.data(), *f).substr(0, key == "enclosureName" ? ENC_NAME_MAX : 255);
    bool quoted = key == "lcdUserNotes" || key == "senderName";
    std::string kept(stored);
    std::erase_if(kept, [&](char c) { return c == '\n' || c == '\r' || (quoted && std::strchr("\"'`", c)); });
    return kept;
}

// One shell sources each file in a subshell and prints the keys' values and
// then its variables, NUL-separated.
void check_shell(const Image &image, const std::vector<ComposedFile> &files)
{
    std::ofstream script(dir + "/check");
    for (std::size_t k = 0; k < kKeyValueFiles; ++k) {
        std::ofstream(dir + "/" + files[k].name) << files[k].text;
        script << "(. ./" << files[k].name << " && printf '%s\\0'";
        for (const std::string &key : keys[k])
            script << " \"$" << key << "\"";
        script << " && set && printf '\\0')\n";
    }
    script.close();
    FILE *p = ::popen(("cd " + dir + " && env -i PATH=/nonexistent /bin/sh ./check 2>&1").c_str(), "r");
    std::string out;
    for (int c; (c = std::fgetc(p)) != EOF;)
        out += static_cast<char>(c);
    FUZZ_CHECK(::pclose(p) == 0);
    Lines got = split(out, '\0');
    std::size_t at = 0;
    for (std::size_t k = 0; k < kKeyValueFiles; ++k) {
        FUZZ_CHECK(split(files[k].text, '\n').size() == keys[k].size() && at + keys[k].size() < got.size());
        for (const std::string &key : keys[k])
            FUZZ_CHECK(got[at++] == expected(image, key, files[k].text));
        for (const std::string &line : split(got[at++], '\n'))
            FUZZ_CHECK(line.find('=') == std::string::npos || allowed.contains(line.substr(0, line.find('='))) ||
                       std::count(keys[k].begin(), keys[k].end(), line.substr(0, line.find('='))));
    }
    FUZZ_CHECK(at == got.size());
}

// Six directives, then trapsink lines of a host and at most a community.
void check_snmpd(const std::vector<ComposedFile> &files)
{
    Lines lines = split(text_of(files, "snmpd"), '\n');
    const char *heads[] = {"syslocation ", "syscontact ", "rocommunity ", "rocommunity6 ", "rwcommunity ", "rwcommunity6 "};
    FUZZ_CHECK(lines.size() >= 6 && lines.size() <= 14);
    for (std::size_t k = 0; k < lines.size(); ++k)
        FUZZ_CHECK(k < 6 ? lines[k].starts_with(heads[k])
                         : lines[k].starts_with("trapsink ") && lines[k].size() > 9 && split(lines[k], ' ').size() <= 3 &&
                               lines[k].find_first_of("# \t", 9) != 9 && lines[k].find('\t') == std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_sim_root();
    dir = std::getenv("CFGPULL_SIM_ROOT");
    Image blank(IMAGE_SIZE, 0);
    LogEntries log;
    std::vector<ComposedFile> files = compose_all(blank.data(), user_layout(false), log);
    for (std::size_t k = 0; k < kKeyValueFiles; ++k)
        for (const std::string &line : split(files[k].text, '\n'))
            keys[k].push_back(line.substr(0, line.find('=')));
    FILE *p = ::popen("env -i PATH=/nonexistent /bin/sh -c set", "r");
    for (char line[256]; std::fgets(line, sizeof line, p) != nullptr;)
        allowed.insert(std::string(line).substr(0, std::string(line).find('=')));
    ::pclose(p);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Lines pieces = split(std::string(reinterpret_cast<const char *>(data), size), '\0');
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
        for (Field f : {users.id, users.privilege})
            number(rec, f);
    }
    number(image.data(), F("ldapGroupCount"));
    for (unsigned j = 0; j < 5; ++j) {
        std::uint8_t *rec = record(image.data(), F("ldapGroupRecords"), j);
        for (Field f : {Group("ldapGroupName"), Group("ldapGroupDescription")})
            set_text(rec, f, piece());
        for (Field f : {Group("ldapGroupId"), Group("ldapGroupPrivilege")})
            number(rec, f);
    }
    for (const Field &f : kLayout40)
        for (unsigned k = 0; f.type == T::Text && k < f.count; ++k)
            set_text(image.data(), f, piece(), k);
    LogEntries log;
    std::vector<ComposedFile> files = compose_all(image.data(), users, log);
    check_accounts(image, files);
    check_shell(image, files);
    check_snmpd(files);
    return 0;
}
