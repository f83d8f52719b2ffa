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

// Reads the two service accounts' password fields a byte at a time, so that
// a file of any length, or a line of any length, costs no more memory than
// the fields: each kept up to one byte past kKeptLimit.
class KeptScan {
public:
    void feed(std::string_view bytes)
    {
        for (char c : bytes)
            take(c);
    }
    KeptPasswords done()
    {
        end_line();
        return kept_;
    }

private:
    void take(char c)
    {
        if (c == '\n')
            return end_line();
        if (c == ':' && colons_ < 2)
            ++colons_;
        else if (std::string &part = colons_ == 0 ? name_ : colons_ == 1 ? field_ : uid_; part.size() <= kKeptLimit)
            part += c;
    }
    void end_line()
    {
        auto genuine = [&](std::string_view account) {
            return name_ == account && uid_.starts_with(std::to_string(fixed_id(account)) + ":");
        };
        std::optional<std::string> *slot = colons_ < 2            ? nullptr
                                           : genuine("mlnuser_") ? &kept_.mlnuser
                                           : genuine("kstuser_") ? &kept_.kstuser
                                                                 : nullptr;
        if (slot != nullptr && !*slot)
            *slot = field_;
        name_.clear(), field_.clear(), uid_.clear();
        colons_ = 0;
    }

    std::string name_, field_, uid_;
    int colons_ = 0;
    KeptPasswords kept_;
};

// The line of a service account with a kept password field: one that holds
// a control character (a torn write's NUL) or is longer than any hash is
// written "*" (logged), as an image hash would be.
void add_service(const char *account, const char *rest, const std::optional<std::string> &kept, OutputBuffer &out,
                 LogEntries &log)
{
    const char *why = !kept                          ? nullptr
                      : kept->size() > kKeptLimit    ? "it is longer than any password hash"
                      : account_field_fault(*kept) != nullptr ? "it holds a control character"
                                                              : nullptr;
    if (why != nullptr)
        log.push_back({LogEntry::Event, LOG_ERR,
                       std::string(account) + "'s kept password written to " + output(Output::Passwd).path +
                           " as *: " + why + "\n"});
    out.append("%s:%s%s", account, !kept ? "x" : why != nullptr ? "*" : kept->c_str(), rest);
}

} // namespace

KeptPasswords kept_passwords_in(std::string_view passwd_text)
{
    KeptScan scan;
    scan.feed(passwd_text);
    return scan.done();
}

KeptPasswords kept_passwords_of(int fd)
{
    KeptScan scan;
    read_pieces(fd, [&](std::string_view piece) { scan.feed(piece); });
    return scan.done();
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
    add_service("mlnuser_", ":100:0:0,Meshlane User,:/:/bin/false\n", kept.mlnuser, out, log);
    add_service("kstuser_", ":101:2:0,Kesslet User,:/:/bin/false\n", kept.kstuser, out, log);
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
    auto fail = [&](int err) {
        errno = err;
        std::perror(file.write_error);
        ::close(fd);
        cleanup_and_exit(file.write_status);
    };
    // A run cut while writing left its copy beside the file.
    if (int err = settle_copy(at->dir, at->name, fd, file.path))
        fail(err);

    if (choose_user_layout(settings_image, fips, true).by_hash)
        log_event(LOG_ERR, "FIPS MODE OFF but password hash is FIPS based");
    LogEntries log;
    output_buffer.clear();
    file.compose(settings_image, {fips, kept_passwords_of(fd)}, output_buffer, log);
    emit(log);

    // An unchanged file is left alone.
    if (!holds_text(fd, output_buffer.text()))
        if (int err = write_in_place(at->dir, at->name, fd, output_buffer.text(), file.path))
            fail(err);
    unlock_file(fd, &lock_state);
    ::close(fd);
}
