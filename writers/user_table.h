// The one place that decides how the user table and the directory group
// table are read: which user layout applies, how many records may be walked,
// and which records are fit to become lines of the account files.
#pragma once

#include "settings/layout.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What composing a file has to say in the log; the thin layer sends it, so
// composing stays a pure function of the image.
struct LogEntry {
    enum Channel { Event, UserLine };  // log_event ("cfgtools"), or local0.info as "cfgpull"
    Channel channel;
    int priority;
    std::string text;
};
using LogEntries = std::vector<LogEntry>;

// Sends the entries in order.
void emit(const LogEntries &entries);

// Record 0's hash begins "$5$": the table was written in the FIPS layout.
bool admin_hash_is_fips(const std::uint8_t *image);

// FIPS layout when the mode is on; otherwise, when `hash_rule` is set and
// record 0's hash is FIPS based, the FIPS layout too (`by_hash` tells so).
struct LayoutChoice {
    const settings::UserLayout *layout;
    bool by_hash;
};
LayoutChoice choose_user_layout(const std::uint8_t *image, bool fips_mode, bool hash_rule);

// Asks the platform for the FIPS mode; false when it cannot tell, after
// logging `unknown_message`.
bool read_fips_mode(bool &fips_mode, const char *unknown_message);

// userCount, or the layout's capacity when the count is larger (said once).
unsigned user_records_to_walk(const std::uint8_t *image, const settings::UserLayout &layout,
                              LogEntries &log);
// ldapGroupCount, likewise bounded by the directory group table.
unsigned group_records_to_walk(const std::uint8_t *image, LogEntries &log);

// The account rule, one for every account file and for cfgimage set. Where
// a name is written decides what it could forge. In a passwd-format line
// (passwd, the directory groups) a name is left out when a reader would
// take it for another account or record: empty, white space at either end,
// a control character, a colon, a first '#', '+' or '-' (comments and NIS
// entries), a fixed account's name. In a group member list, which only
// names accounts, only what splits the list or the line counts: empty,
// outer white space, a control character, a colon or a comma. In both,
// "root" (the module has none; whatever looks it up by name would find
// this record) and an all-digit name (read as an id by chown and the like)
// are left out, and so is a name that repeats an earlier kept record's.
// Null when fit.
enum class NameUse { Account, Member };
const char *account_name_fault(std::string_view name, NameUse use);

// The fixed system accounts. A table record other than the administrator
// that holds one's id under another name would share its uid, and so would
// every member of a directory group that holds it; the table's copy of a
// fixed account (its own name and id) does not.
struct FixedAccount {
    std::string_view name;
    unsigned id;
};
inline constexpr FixedAccount kFixedAccounts[] = {
    {"wren", 0}, {"nobody", 99}, {"mlnuser_", 100}, {"kstuser_", 101}, {"ldapuser", 5000},
};
const char *account_id_fault(std::string_view name, unsigned id);
constexpr unsigned fixed_id(std::string_view name)
{
    for (const FixedAccount &fixed : kFixedAccounts)
        if (fixed.name == name)
            return fixed.id;
    throw "not a fixed account";  // at compile time: no such name compiles
}

// The records among the first `count` fit for `use`, in table order; the
// others are logged as left out of `file`.
std::vector<unsigned> user_accounts(const std::uint8_t *image, const settings::UserLayout &layout,
                                    unsigned count, NameUse use, const char *file, LogEntries &log);
std::vector<unsigned> group_accounts(const std::uint8_t *image, unsigned count, const char *file,
                                     LogEntries &log);

// The names of the first `count` records of each table, in order.
std::vector<std::string_view> user_names(const std::uint8_t *image, const settings::UserLayout &layout,
                                         unsigned count);
std::vector<std::string_view> group_names(const std::uint8_t *image, unsigned count);

// Comments, descriptions and hashes never drop a record: colons and control
// characters are taken out of a comment or description. A hash holding them
// is written "*" and an empty one "x": no password matches either, where an
// empty field would let anyone log in.
const char *account_field_fault(std::string_view text);
std::string account_text(std::string_view text);
const char *account_hash_fault(std::string_view hash);
std::string account_hash(std::string_view hash);

// Logs that a record was left out of `file` (never its hash), or written
// there changed (`what`, at LOG_WARNING).
void note_left_out(LogEntries &log, const char *table, unsigned index, const char *file,
                   const char *why);
void note_cleaned(LogEntries &log, const char *table, unsigned index, const char *file, const char *what);

// Record 0 is the built-in administrator: id 1, privilege 0, in memory only.
void pin_admin_record(std::uint8_t *image, const settings::UserLayout &layout);
