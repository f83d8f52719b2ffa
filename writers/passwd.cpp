// /etc/passwd: the fixed system accounts, the local users of the image and
// the two service accounts, whose password fields are kept from the file.
#include "platform/platform.h"
#include "settings/image.h"
#include "store/exit.h"
#include "store/log.h"
#include "store/replace.h"
#include "writers/compose.h"
#include "writers/outputs.h"
#include "writers/writers.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

using namespace settings;

namespace {

const char kFixedLines[] = "wren:x:0:0:0,,:/:/bin/false\n"
                           "nobody:x:99:3:0,Default User,:/:/bin/false\n"
                           "ldapuser:none:5000:5000:0,LDAP Directory User,:/:/usr/bin/cli\n";

// One local user: a log line without the hash, and the passwd line.
void add_user(const std::uint8_t *rec, const UserLayout &layout, unsigned index, unsigned id,
              unsigned privilege, OutputBuffer &out, LogEntries &log)
{
    std::string name(get_text(rec, layout.name));
    std::string_view stored_hash = get_text(rec, layout.hash);
    std::string gecos = account_text(get_text(rec, layout.gecos));
    std::string hash = account_hash(stored_hash);
    if (stored_hash.empty())
        log.push_back({LogEntry::Event, LOG_ERR,
                       "user table record " + std::to_string(index) + " written to " + output(Output::Passwd).path +
                           " with password x: its password hash is empty\n"});
    bool gecos_cleaned = gecos != get_text(rec, layout.gecos), hash_replaced = account_field_fault(stored_hash) != nullptr;
    if (gecos_cleaned || hash_replaced)
        note_cleaned(log, "user table", index, output(Output::Passwd).path,
                     gecos_cleaned && hash_replaced ? "its comment cleaned and its password hash replaced by *"
                     : gecos_cleaned                ? "its comment cleaned"
                                                    : "its password hash replaced by *");
    char line[256];
    std::snprintf(line, sizeof line, "[%u] - %s:%s:%u:%u:%s:/:/usr/bin/cli\n", index, name.c_str(),
                  "-", id, privilege, gecos.c_str());
    log.push_back({LogEntry::UserLine, LOG_INFO, line});
    out.append("%s:%s:%u:%u:%s:/:/usr/bin/cli\n", name.c_str(), hash.c_str(), id, privilege,
               gecos.c_str());
}

} // namespace

KeptPasswords kept_passwords_in(std::string_view passwd_text)
{
    KeptPasswords kept;
    while (!passwd_text.empty()) {
        std::string_view line = passwd_text.substr(0, passwd_text.find('\n'));
        passwd_text.remove_prefix(std::min(passwd_text.size(), line.size() + 1));
        std::size_t colon = line.find(':'), second = line.find(':', colon + 1);
        if (colon == std::string_view::npos || second == std::string_view::npos)
            continue;
        std::string_view name = line.substr(0, colon), after = line.substr(second + 1);
        auto genuine = [&](std::string_view account) {
            return name == account && after.starts_with(std::to_string(fixed_id(account)) + ":");
        };
        std::optional<std::string> *slot = genuine("mlnuser_") ? &kept.mlnuser
                                           : genuine("kstuser_") ? &kept.kstuser
                                                                 : nullptr;
        if (slot != nullptr && !*slot)
            *slot = std::string(line.substr(colon + 1, second - colon - 1));
    }
    return kept;
}

void compose_passwd(const std::uint8_t *image, const UserLayout &layout, const KeptPasswords &kept,
                    OutputBuffer &out, LogEntries &log)
{
    out.append_text(kFixedLines);
    // The built-in administrator is always uid 1 in group 0, whatever the count.
    unsigned count = std::max(1u, user_records_to_walk(image, layout, log));
    for (unsigned i : user_accounts(image, layout, count, NameUse::Account, output(Output::Passwd).path, log)) {
        const std::uint8_t *rec = record(image, layout.records, i);
        if (i == 0)
            add_user(rec, layout, i, 1, 0, out, log);
        else
            add_user(rec, layout, i, get_u(rec, layout.id), get_u(rec, layout.privilege), out, log);
    }
    if (kept.mlnuser)
        out.append("mlnuser_:%s:100:0:0,Meshlane User,:/:/bin/false\n", kept.mlnuser->c_str());
    else
        out.append_text("mlnuser_:x:100:0:0,Meshlane User,:/:/bin/false\n");
    if (kept.kstuser)
        out.append("kstuser_:%s:101:2:0,Kesslet User,:/:/bin/false\n", kept.kstuser->c_str());
    else
        out.append_text("kstuser_:x:101:2:0,Kesslet User,:/:/bin/false\n");
}

void write_user_settings_to_fs(void)
{
    bool fips = false;
    if (!read_fips_mode(fips, "Unable to determine FIPS mode. Unable to retrieve user settings\n"))
        return;
    const OutputFile &file = output(Output::Passwd);
    std::optional<platform::Location> at = platform::locate(file.path);
    int fd = at ? platform::open_at(*at, O_RDWR | O_CREAT, file.mode) : -1;
    if (fd < 0) {
        std::perror(file.create_error);
        cleanup_and_exit(file.create_status);
    }
    // Held from reading the service accounts' fields until the new text is
    // in the file: other writers of the account files lock this inode and
    // rewrite it in place too, so it is never replaced by another file.
    struct mgmt_file_lock lock_state {};
    lock_file_rw(fd, &lock_state);
    // A run cut while writing left the text it meant to write beside the file.
    std::optional<std::string> unfinished = unfinished_text(at->dir, at->name);
    std::string old_text = unfinished ? *unfinished : read_whole(fd);

    if (choose_user_layout(settings_image, fips, true).by_hash)
        log_event(LOG_ERR, "FIPS MODE OFF but password hash is FIPS based");
    LogEntries log;
    output_buffer.clear();
    file.compose(settings_image, {fips, kept_passwords_in(old_text)}, output_buffer, log);
    emit(log);

    // An unchanged file is left alone, unless a cut run left it torn.
    if (int err = unfinished || output_buffer.text() != old_text
                      ? write_in_place(at->dir, at->name, fd, output_buffer.text(), old_text)
                      : 0) {
        errno = err;
        std::perror(file.write_error);
        ::close(fd);
        cleanup_and_exit(file.write_status);
    }
    unlock_file(fd, &lock_state);
    ::close(fd);
}
