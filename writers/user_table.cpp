#include "writers/user_table.h"

#include "platform/platform.h"
#include "store/log.h"

#include <string_view>

using namespace settings;

namespace {

bool has_any(std::string_view text, std::string_view chars)
{
    return text.find_first_of(chars) != std::string_view::npos;
}

// The reason a text field of an account line is unfit, or null.
const char *field_fault(std::string_view text, const char *colon, const char *line_break)
{
    if (has_any(text, ":"))
        return colon;
    if (has_any(text, "\n\r"))
        return line_break;
    return nullptr;
}

unsigned bounded(unsigned count, unsigned capacity, const char *counter, LogEntries &log)
{
    if (count <= capacity)
        return count;
    log.push_back({LogEntry::Event, LOG_ERR,
                   std::string(counter) + " " + std::to_string(count) + " exceeds the table's " +
                       std::to_string(capacity) + " records; only those are read\n"});
    return capacity;
}

} // namespace

void emit(const LogEntries &entries)
{
    for (const LogEntry &e : entries) {
        if (e.channel == LogEntry::Event)
            log_event(e.priority, "%s", e.text.c_str());
        else
            platform::log("cfgpull", LOG_LOCAL0, e.priority, e.text.c_str());
    }
}

bool admin_hash_is_fips(const std::uint8_t *image)
{
    // The hash starts at the same byte in both layouts.
    const UserLayout &std_layout = user_layout(false);
    return get_text(record(image, std_layout.records, 0), std_layout.hash).starts_with("$5$");
}

LayoutChoice choose_user_layout(const std::uint8_t *image, bool fips_mode, bool hash_rule)
{
    if (fips_mode)
        return {&user_layout(true), false};
    if (hash_rule && admin_hash_is_fips(image))
        return {&user_layout(true), true};
    return {&user_layout(false), false};
}

bool read_fips_mode(bool &fips_mode, const char *unknown_message)
{
    int mode = 0;
    if (get_fips_mode_no_auth(&mode) != 0) {
        log_event(LOG_ERR, "%s", unknown_message);
        return false;
    }
    fips_mode = mode != 0;
    return true;
}

unsigned user_records_to_walk(const std::uint8_t *image, const UserLayout &layout, LogEntries &log)
{
    return bounded(get_u(image, F("userCount")), layout.records.count, "userCount", log);
}

unsigned group_records_to_walk(const std::uint8_t *image, LogEntries &log)
{
    return bounded(get_u(image, F("ldapGroupCount")), F("ldapGroupRecords").count, "ldapGroupCount",
                   log);
}

const char *user_record_fault(const std::uint8_t *image, const UserLayout &layout, unsigned index)
{
    const std::uint8_t *rec = record(image, layout.records, index);
    std::string_view name = get_text(rec, layout.name);
    if (name.empty())
        return "its name is empty";
    if (has_any(name, ","))
        return "its name holds a comma";
    if (const char *why = field_fault(name, "its name holds a colon", "its name holds a line break"))
        return why;
    if (const char *why = field_fault(get_text(rec, layout.gecos), "its comment holds a colon",
                                      "its comment holds a line break"))
        return why;
    return field_fault(get_text(rec, layout.hash), "its password hash holds a colon",
                       "its password hash holds a line break");
}

const char *group_record_fault(const std::uint8_t *image, unsigned index)
{
    const std::uint8_t *rec = record(image, F("ldapGroupRecords"), index);
    if (const char *why = field_fault(get_text(rec, Group("ldapGroupName")), "its name holds a colon",
                                      "its name holds a line break"))
        return why;
    return field_fault(get_text(rec, Group("ldapGroupDescription")),
                       "its description holds a colon", "its description holds a line break");
}

void note_left_out(LogEntries &log, const char *table, unsigned index, const char *file,
                   const char *why)
{
    log.push_back({LogEntry::Event, LOG_ERR,
                   std::string(table) + " record " + std::to_string(index) + " left out of " + file +
                       ": " + why + "\n"});
}

void pin_admin_record(std::uint8_t *image, const UserLayout &layout)
{
    std::uint8_t *rec = record(image, layout.records, 0);
    set_u(rec, layout.id, 1);
    set_u(rec, layout.privilege, 0);
}
