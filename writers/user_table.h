// The one place that decides how the user table and the directory group
// table are read: which user layout applies, how many records may be walked,
// and which records are fit to become lines of the account files.
#pragma once

#include "settings/layout.h"

#include <cstdint>
#include <string>
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

// Why user record `index` cannot become a line of the account files, or null.
// Separators or line breaks in a field would forge or corrupt entries.
const char *user_record_fault(const std::uint8_t *image, const settings::UserLayout &layout,
                              unsigned index);
const char *group_record_fault(const std::uint8_t *image, unsigned index);

// Logs that a record was left out of `file` (never its hash).
void note_left_out(LogEntries &log, const char *table, unsigned index, const char *file,
                   const char *why);

// Record 0 is the built-in administrator: id 1, privilege 0, in memory only.
void pin_admin_record(std::uint8_t *image, const settings::UserLayout &layout);
