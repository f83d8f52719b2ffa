// Hostile text in every field, read back by the files' real consumers: glibc
// must parse exactly the account records the naming rule keeps, a reader
// that splits each line of a key=value file at its first '=' must get each
// key once, no other key, and the stored values less their line breaks,
// snmpd.conf must hold no extra directive or word and send traps only to a
// stored receiver, verbatim, and no directory group may carry a fixed
// account's id.
//
// Input: pieces separated by NUL bytes, in this order: userCount, five user
// records (name, comment, hash, id, privilege), ldapGroupCount, five
// directory groups (name, description, id, privilege), then every text field
// of the layout, array elements included. Numbers are decimal text.
#include "fuzz_check.h"

#include "writers/compose.h"
#include "settings/enc_name.h"

#include <grp.h>
#include <pwd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace settings;

namespace {

using Image = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

constexpr std::size_t kKeyValueFiles = 6;  // compose_all's first files

Lines keys[kKeyValueFiles];  // each key=value file's keys, from a blank image

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

// The naming rule, restated: a passwd line, or a group member list.
bool kept_name(const std::string &n, bool member, std::set<std::string> &seen)
{
    bool splits = n.empty() || std::isspace(static_cast<unsigned char>(n.front())) ||
                  std::isspace(static_cast<unsigned char>(n.back())) || n != cleaned(n) ||
                  (member && n.find(',') != std::string::npos);
    bool forges = n == "root" || n.find_first_not_of("0123456789") == std::string::npos ||
                  (!member && (std::string("#+-").find(n[0]) != std::string::npos || n == "wren" ||
                               n == "nobody" || n == "ldapuser" || n == "mlnuser_" || n == "kstuser_"));
    return !splits && !forges && seen.insert(n).second;
}

// A fixed account's uid held under another name.
bool shares_uid(const std::string &n, unsigned id)
{
    const std::pair<unsigned, const char *> fixed[] = {{0, "wren"}, {99, "nobody"}, {100, "mlnuser_"},
                                                       {101, "kstuser_"}, {5000, "ldapuser"}};
    return std::any_of(std::begin(fixed), std::end(fixed), [&](auto f) { return f.first == id && n != f.second; });
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
    std::set<std::string> seen, listed;
    unsigned count = std::min<unsigned>(get_u(image.data(), F("userCount")), users.records.count);
    for (unsigned i = 0; i < std::max(count, 1u); ++i) {
        const std::uint8_t *rec = record(image.data(), users.records, i);
        std::string name(get_text(rec, users.name)), hash(get_text(rec, users.hash));
        unsigned privilege = i == 0 ? 0 : get_u(rec, users.privilege);
        bool fixed_uid = i > 0 && shares_uid(name, get_u(rec, users.id));
        bool member = i < count && !fixed_uid && kept_name(name, true, listed);
        for (unsigned g = 0; g < 4 && member; ++g)
            if (privilege == g || (g == 1 && privilege == 0))
                members[g] += name + ",";
        if (fixed_uid || !kept_name(name, false, seen))
            continue;
        passwd.push_back(name + ":" + (hash.empty() ? "x" : hash == cleaned(hash) ? hash : "*") + ":" +
                         std::to_string(i == 0 ? 1 : get_u(rec, users.id)) + ":" + std::to_string(privilege) + ":" +
                         cleaned(get_text(rec, users.gecos)) + ":/:/usr/bin/cli");
    }
    passwd.insert(passwd.end(), {"mlnuser_:$1$kept:100:0:0,Meshlane User,:/:/bin/false",
                                 "kstuser_:x:101:2:0,Kesslet User,:/:/bin/false"});
    const std::string &text = text_of(files, "passwd");
    FUZZ_CHECK(read_back(text, false) == passwd);
    for (std::size_t k = 3; k + 2 < passwd.size(); ++k) {  // the table's records: a password, no fixed uid
        Lines fields = split(passwd[k], ':');
        FUZZ_CHECK(!fields[1].empty() && !shares_uid(fields[0], static_cast<unsigned>(std::stoul(fields[2]))));
    }
    FUZZ_CHECK(kept_passwords_in(text).mlnuser == "$1$kept" && kept_passwords_in(text).kstuser == "x");
    Lines group = {"wren:0:wren,", "nobody:99:", "admin:0:" + members[0] + "mlnuser_,",
                   "oper:1:" + members[1] + "mlnuser_,", "user:2:" + members[2], "anonymous:3:" + members[3]};
    FUZZ_CHECK(read_back(text_of(files, "group"), true) == group);

    Lines directory;
    seen.clear();
    for (unsigned j = 0; j < std::min<unsigned>(get_u(image.data(), F("ldapGroupCount")), 5); ++j) {
        const std::uint8_t *rec = record(image.data(), F("ldapGroupRecords"), j);
        std::string name(get_text(rec, Group("ldapGroupName")));
        unsigned id = get_u(rec, Group("ldapGroupId"));
        if (!shares_uid(name, id) && kept_name(name, false, seen))
            directory.push_back(name + ":x:" + std::to_string(id) + ":" +
                                std::to_string(get_u(rec, Group("ldapGroupPrivilege"))) + ":" +
                                cleaned(get_text(rec, Group("ldapGroupDescription"))) + ":/:/usr/bin/cli");
    }
    Lines ldapgroup = read_back(text_of(files, "ldapgroup"), false);
    FUZZ_CHECK(ldapgroup == directory);
    for (const std::string &entry : ldapgroup)  // no member logs in as a fixed account
        FUZZ_CHECK(!shares_uid("", static_cast<unsigned>(std::stoul(split(entry, ':')[2]))));
}

// What a line reader must get for `key`: the stored text less its line
// breaks (the notes between single quotes, without quotes), or for other
// values the file's own characters.
std::string stored_value(const Image &image, const std::string &key, const std::string &written)
{
    const Field *f = find_field(kLayout40, key);
    if (f == nullptr || f->type != T::Text)
        return written;
    std::string_view stored = get_text(image.data(), *f).substr(0, key == "enclosureName" ? kEncNameMax : 255);
    bool quoted = key == "lcdUserNotes" || key == "senderName";
    std::string kept(stored);
    std::erase_if(kept, [&](char c) { return c == '\n' || c == '\r' || (quoted && std::strchr("\"'`", c)); });
    return quoted ? "'" + kept + "'" : kept;
}

// Every line splits at its first '=' into the key of its place and the
// value; the enclosure name is read back through its escapes.
void check_lines(const Image &image, const std::vector<ComposedFile> &files)
{
    for (std::size_t k = 0; k < kKeyValueFiles; ++k) {
        Lines lines = split(files[k].text, '\n');
        FUZZ_CHECK(lines.size() == keys[k].size() && files[k].text.ends_with('\n'));
        for (std::size_t n = 0; n < lines.size(); ++n) {
            std::size_t eq = lines[n].find('=');
            FUZZ_CHECK(eq != std::string::npos && lines[n].substr(0, eq) == keys[k][n]);
            std::string value = lines[n].substr(eq + 1), read;
            for (std::size_t c = 0; c < value.size(); ++c)
                read += value[c] == '\\' && keys[k][n] == "enclosureName" ? value[++c] : value[c];
            FUZZ_CHECK(read == stored_value(image, keys[k][n], read));
        }
    }
}

// Six directives, then trapsink lines of a host (never read as a comment or
// an option) and at most a community, each a stored receiver and its
// community, verbatim.
void check_snmpd(const Image &image, const std::vector<ComposedFile> &files)
{
    Lines lines = split(text_of(files, "snmpd"), '\n'), receivers;
    for (unsigned k = 0; k < F("trapReceivers").count; ++k)
        receivers.push_back("trapsink " + std::string(get_text(image.data(), F("trapReceivers"), k)) + " " +
                            std::string(get_text(image.data(), F("trapCommunities"), k)));
    const char *heads[] = {"syslocation ", "syscontact ", "rocommunity ", "rocommunity6 ", "rwcommunity ", "rwcommunity6 "};
    FUZZ_CHECK(lines.size() >= 6 && lines.size() <= 14);
    for (std::size_t k = 0; k < lines.size(); ++k)
        FUZZ_CHECK(k < 6 ? lines[k].starts_with(heads[k])
                         : lines[k].starts_with("trapsink ") && lines[k].size() > 9 && split(lines[k], ' ').size() <= 3 &&
                               lines[k].find_first_of("#- \t", 9) != 9 && lines[k].find('\t') == std::string::npos &&
                               std::count(receivers.begin(), receivers.end(), lines[k]) > 0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_sim_root();
    Image blank(kImageSize, 0);
    LogEntries log;
    std::vector<ComposedFile> files = compose_all(blank.data(), user_layout(false), log);
    for (std::size_t k = 0; k < kKeyValueFiles; ++k)
        for (const std::string &line : split(files[k].text, '\n'))
            keys[k].push_back(line.substr(0, line.find('=')));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Lines pieces = split(std::string(reinterpret_cast<const char *>(data), size), '\0');
    std::size_t next = 0;
    auto piece = [&] { return next < pieces.size() ? pieces[next++] : std::string(); };
    auto number = [&](std::uint8_t *base, Field f) { set_u(base, f, static_cast<std::uint32_t>(std::atol(piece().c_str()))); };
    Image image(kImageSize, 0);
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
    check_lines(image, files);
    check_snmpd(image, files);
    return 0;
}
