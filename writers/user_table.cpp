#include "writers/user_table.h"

#include "platform/platform.h"
#include "store/log.h"
#include "writers/text.h"

#include <cstdio>
#include <string_view>

using namespace settings;

namespace {

bool has_control(std::string_view text)
{
    for (char c : text)
        if (is_control(static_cast<unsigned char>(c)))
            return true;
    return false;
}

// Repeats count among the records kept so far; `ids` are checked against
// the fixed accounts' from record `first_id` on (the Administrator is
// written with an id of its own).
std::vector<unsigned> accounts(const std::vector<std::string_view> &names, const std::vector<unsigned> &ids,
                               unsigned first_id, NameUse use, const char *table, const char *file, LogEntries &log)
{
    std::vector<unsigned> kept;
    for (unsigned i = 0; i < names.size(); ++i) {
        const char *why = account_name_fault(names[i], use);
        if (why == nullptr && i >= first_id)
            why = account_id_fault(names[i], ids[i]);
        for (unsigned k : kept)
            if (why == nullptr && names[k] == names[i])
                why = "its name repeats an earlier record's";
        if (why != nullptr)
            note_left_out(log, table, i, file, why);
        else
            kept.push_back(i);
    }
    return kept;
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

const char *account_name_fault(std::string_view name, NameUse use)
{
    if (name.empty())
        return "its name is empty";
    if (is_space(static_cast<unsigned char>(name.front())) || is_space(static_cast<unsigned char>(name.back())))
        return "its name starts or ends with whitespace";
    if (has_control(name))
        return "its name holds a control character";
    if (name.find(':') != std::string_view::npos)
        return "its name holds a colon";
    if (use == NameUse::Member && name.find(',') != std::string_view::npos)
        return "its name holds a comma";
    if (name == "root")
        return "its name is root, which would pass for the superuser";
    if (name.find_first_not_of("0123456789") == std::string_view::npos)
        return "its name is all digits, which would pass for an id";
    if (use == NameUse::Member)
        return nullptr;
    if (name.front() == '#' || name.front() == '+' || name.front() == '-')
        return "its name starts with '#', '+' or '-'";
    for (const FixedAccount &fixed : kFixedAccounts)
        if (name == fixed.name)
            return "its name is a fixed account's";
    return nullptr;
}

const char *account_id_fault(std::string_view name, unsigned id)
{
    for (const FixedAccount &fixed : kFixedAccounts)
        if (id == fixed.id && name != fixed.name)
            return "its id is a fixed account's";
    return nullptr;
}

std::vector<std::string_view> user_names(const std::uint8_t *image, const UserLayout &layout, unsigned count)
{
    std::vector<std::string_view> names;
    for (unsigned i = 0; i < count; ++i)
        names.push_back(get_text(record(image, layout.records, i), layout.name));
    return names;
}

std::vector<std::string_view> group_names(const std::uint8_t *image, unsigned count)
{
    std::vector<std::string_view> names;
    for (unsigned j = 0; j < count; ++j)
        names.push_back(get_text(record(image, F("ldapGroupRecords"), j), Group("ldapGroupName")));
    return names;
}

std::vector<unsigned> user_accounts(const std::uint8_t *image, const UserLayout &layout, unsigned count,
                                    NameUse use, const char *file, LogEntries &log)
{
    std::vector<unsigned> ids;
    for (unsigned i = 0; i < count; ++i)
        ids.push_back(get_u(record(image, layout.records, i), layout.id));
    return accounts(user_names(image, layout, count), ids, 1, use, "user table", file, log);
}

std::vector<unsigned> group_accounts(const std::uint8_t *image, unsigned count, const char *file, LogEntries &log)
{
    std::vector<unsigned> ids;
    for (unsigned j = 0; j < count; ++j)
        ids.push_back(get_u(record(image, F("ldapGroupRecords"), j), Group("ldapGroupId")));
    return accounts(group_names(image, count), ids, 0, NameUse::Account, "directory group table", file, log);
}

const char *account_field_fault(std::string_view text)
{
    return text.find(':') != std::string_view::npos || has_control(text) ? "it holds a colon or a control character"
                                                                          : nullptr;
}

std::string account_text(std::string_view text)
{
    std::string s;
    for (char c : text)
        if (c != ':' && !is_control(static_cast<unsigned char>(c)))
            s += c;
    return s;
}

const char *account_hash_fault(std::string_view hash)
{
    return hash.empty() ? "it is empty, which logs in without a password" : account_field_fault(hash);
}

std::string account_hash(std::string_view hash)
{
    return hash.empty() ? "x" : account_field_fault(hash) != nullptr ? "*" : std::string(hash);
}

void note_left_out(LogEntries &log, const char *table, unsigned index, const char *file, const char *why)
{
    char text[256];
    std::snprintf(text, sizeof text, "%s record %u left out of %s: %s\n", table, index, file, why);
    log.push_back({LogEntry::Event, LOG_ERR, text});
}

void note_cleaned(LogEntries &log, const char *table, unsigned index, const char *file, const char *what)
{
    char text[256];
    std::snprintf(text, sizeof text, "%s record %u written to %s with %s\n", table, index, file, what);
    log.push_back({LogEntry::Event, LOG_WARNING, text});
}

void pin_admin_record(std::uint8_t *image, const UserLayout &layout)
{
    std::uint8_t *rec = record(image, layout.records, 0);
    set_u(rec, layout.id, 1);
    set_u(rec, layout.privilege, 0);
}
