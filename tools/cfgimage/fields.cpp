#include "tools/cfgimage/fields.h"

#include "settings/image.h"
#include "settings/layouts_old.h"
#include "settings/migrate.h"
#include "writers/user_table.h"
#include "writers/values.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

namespace cfgimage {

using settings::F;
using settings::FieldType;

namespace {

constexpr Layout kLayouts[] = {
    {18, 19, settings::kLayout19, settings::kUserRecord19, {}, settings::kLdapGroupRecord, {}},
    {20, 26, settings::kLayout20, settings::kUserRecordStd, {}, settings::kLdapGroupRecord, {}},
    {settings::kCurrentVersion, settings::kCurrentVersion, settings::kLayout40, settings::kUserRecordStd,
     settings::kUserRecordFips, settings::kLdapGroupRecord, settings::kBits40},
};

static_assert(std::size(kLayouts) > 0 && kLayouts[std::size(kLayouts) - 1].first_version == settings::kCurrentVersion);

constexpr Field kMasks[] = {
    F("ipv6Flags"), F("featureBits"), F("bladeSignatures1"), F("bladeSignatures2"), F("userBayMask2"),
    F("ldapGroupBayMask2"), F("groupCapBays"), F("manualPolicyFrontBays0"), F("manualPolicyFrontBays1"),
    F("manualPolicyIoBays"), F("manualPolicyMisc"), F("serverBaysInProgress0"), F("serverBaysInProgress1"),
    settings::UserStd("userBayMask1"), settings::UserFips("userBayMask1Fips"), settings::Group("ldapGroupBayMask1"),
};

// The one list of what show, export and diff leave out without --secrets.
constexpr Field kSecrets[] = {
    F("presetHashes"), F("serviceAccountPassword"), settings::UserStd("userPasswordHash"),
    settings::UserFips("userPasswordHashFips"), F("lcdPin"), F("rocommunity"), F("rwcommunity"),
    F("trapCommunities"),
};

bool named_in(std::span<const Field> list, const Field &f)
{
    for (const Field &m : list)
        if (std::string_view(m.name) == f.name)
            return true;
    return false;
}

bool is_number(FieldType t)
{
    return t == FieldType::U8 || t == FieldType::U16 || t == FieldType::U32 || t == FieldType::I16 ||
           t == FieldType::I32;
}

bool is_signed(FieldType t)
{
    return t == FieldType::I16 || t == FieldType::I32;
}

// The range a number field holds, from its width; a signed mask also takes
// the unsigned values its hexadecimal form shows.
void number_range(const Field &f, long long &low, long long &high)
{
    unsigned bits = 8u * (f.size < 4 ? f.size : 4u);
    low = 0;
    high = (1LL << bits) - 1;
    if (is_signed(f.type)) {
        low = -(1LL << (bits - 1));
        high = is_mask(f) ? high : -low - 1;
    }
}

// Decimal, or hexadecimal after "0x", with an optional minus sign.
std::optional<long long> parse_integer(std::string_view text)
{
    bool negative = text.starts_with('-');
    if (negative)
        text.remove_prefix(1);
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty() || text.size() > 16)
        return std::nullopt;
    unsigned long long v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (ec != std::errc{} || end != text.data() + text.size() || v > (1ULL << 40))
        return std::nullopt;
    long long s = static_cast<long long>(v);
    return negative ? -s : s;
}

std::string hex_bytes(std::span<const std::uint8_t> b)
{
    std::string s;
    char two[3];
    for (std::uint8_t c : b) {
        std::snprintf(two, sizeof two, "%02x", c);
        s += two;
    }
    return s;
}

std::optional<std::string> assign_bytes(std::uint8_t *base, const Place &p, std::string_view value)
{
    std::string limit = p.name + ": at most " + std::to_string(p.field.size) + " bytes as hexadecimal digits";
    if (value.size() % 2 != 0 || value.size() > 2u * p.field.size)
        return limit;
    std::vector<std::uint8_t> staged(p.field.size, 0);
    for (std::size_t i = 0; i < value.size(); i += 2) {
        int hi = hex_digit(value[i]), lo = hex_digit(value[i + 1]);
        if (hi < 0 || lo < 0)
            return limit;
        staged[i / 2] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    std::span<std::uint8_t> out = settings::bytes(base, p.field, p.index);
    std::copy(staged.begin(), staged.end(), out.begin());
    return std::nullopt;
}

std::optional<std::string> assign_number(std::uint8_t *base, const Place &p, std::string_view value)
{
    long long low = 0, high = 0;
    number_range(p.field, low, high);
    std::optional<long long> v = parse_integer(value);
    if (!v || *v < low || *v > high)
        return p.name + ": a number from " + std::to_string(low) + " to " + std::to_string(high);
    settings::set_u(base, p.field, static_cast<std::uint32_t>(*v), p.index);
    return std::nullopt;
}

std::optional<std::string> assign_address(std::uint8_t *base, const Place &p, std::string_view value, int family)
{
    std::uint8_t address[16] = {};
    std::string text(value);
    bool v4 = family == AF_INET;
    if (p.field.size != (v4 ? 4u : 16u) || inet_pton(family, text.c_str(), address) != 1)
        return p.name + (v4 ? ": an IPv4 address (a.b.c.d)" : ": an IPv6 address");
    std::span<std::uint8_t> out = settings::bytes(base, p.field, p.index);
    std::copy(address, address + out.size(), out.begin());
    return std::nullopt;
}

std::string ipv4_text(std::span<const std::uint8_t> a)
{
    char s[16];
    std::snprintf(s, sizeof s, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
    return s;
}

// Eight groups of four hexadecimal digits, as the network file writes them.
std::string ipv6_text(std::span<const std::uint8_t> a)
{
    std::string s;
    char group[6];
    for (std::size_t g = 0; g + 1 < a.size(); g += 2) {
        std::snprintf(group, sizeof group, g == 0 ? "%02x%02x" : ":%02x%02x", a[g], a[g + 1]);
        s += group;
    }
    return s;
}

const Field *find_in(std::span<const Field> table, std::string_view name)
{
    return table.empty() ? nullptr : settings::find_field(table, name);
}

std::string index_error(const FieldName &n, unsigned count)
{
    return n.text() + ": takes an index from 0 to " + std::to_string(count - 1);
}

// A field of record `index` in the table `records` of the current layout.
std::variant<Place, std::string> record_place(const FieldName &n, const Field &f, const Field &table)
{
    if (!n.index || *n.index >= table.count)
        return index_error(n, table.count);
    return Place{n.text(), f, table.at(*n.index), 0, nullptr};
}

// How the writers put a text field in their files, as its reader gets it
// back; the first row holds for every field not named.
struct TextForm {
    std::string_view field;
    std::string (*written)(std::string_view);
    const char *why;
};

std::string snmp_line(std::string_view text)
{
    return writers::snmp_rest_of_line(writers::one_line(text));
}

// A trapsink word is written as stored or its line is left out.
std::string trap_host(std::string_view text)
{
    return writers::snmp_word_fault(text, true) ? std::string() : std::string(text);
}

std::string trap_community(std::string_view text)
{
    return writers::snmp_word_fault(text, false) ? std::string() : std::string(text);
}

const char kQuoteOrBreak[] = "it holds a quote character or a line break";
const char kSnmpLine[] = "it starts with '#' or whitespace or ends with whitespace, or holds a line break";
const char kColonOrControl[] = "it holds a colon or a control character";

constexpr TextForm kTextForms[] = {
    {"", writers::one_line, "it holds a line break"},
    {"lcdUserNotes", writers::unquoted, kQuoteOrBreak},
    {"senderName", writers::unquoted, kQuoteOrBreak},
    {"syslocation", snmp_line, kSnmpLine},
    {"syscontact", snmp_line, kSnmpLine},
    {"trapReceivers", trap_host, "it holds whitespace or starts with '#' or '-'"},
    {"trapCommunities", trap_community, "it holds whitespace"},
    {"userGecos", account_text, kColonOrControl},
    {"ldapGroupDescription", account_text, kColonOrControl},
};

// Why a name among `names` (the records the files walk) would be left out
// of a file or, for users, of a group member list, where a comma splits it.
const char *name_refusal(std::string_view name, const std::vector<std::string_view> &names, unsigned index,
                         bool comma_splits)
{
    if (const char *why = account_name_fault(name, NameUse::Account))
        return why;
    if (const char *why = comma_splits ? account_name_fault(name, NameUse::Member) : nullptr)
        return why;
    for (unsigned j = 0; j < names.size(); ++j)
        if (j != index && names[j] == name)
            return "its name repeats another record's";
    return nullptr;
}

std::string refused(const Field &f, unsigned index, const char *why)
{
    return std::string(f.name) + "[" + std::to_string(index) + "]: " + why + "; cfgpull would not write it as stored";
}

// Why user record `index` of the table the account files read would not be
// written as stored.
std::optional<std::string> user_record_refusal(const std::uint8_t *image, unsigned index, bool fips_mode)
{
    const settings::UserLayout &users = settings::user_layout(fips_users(image, fips_mode));
    const std::uint8_t *rec = settings::record(image, users.records, index);
    LogEntries ignored;
    std::vector<std::string_view> names = user_names(image, users, user_records_to_walk(image, users, ignored));
    std::string_view name = settings::get_text(rec, users.name);
    if (const char *why = name_refusal(name, names, index, true))
        return refused(users.name, index, why);
    if (const char *why = index > 0 ? account_id_fault(name, settings::get_u(rec, users.id)) : nullptr)
        return refused(users.id, index, why);
    if (const char *why = account_hash_fault(settings::get_text(rec, users.hash)))
        return refused(users.hash, index, why);
    return std::nullopt;
}

// Why directory group record `index` would not be written to
// /etc/ldapgroup as stored.
std::optional<std::string> group_record_refusal(const std::uint8_t *image, unsigned index)
{
    const std::uint8_t *rec = settings::record(image, F("ldapGroupRecords"), index);
    LogEntries ignored;
    std::string_view name = settings::get_text(rec, settings::Group("ldapGroupName"));
    if (const char *why = name_refusal(name, group_names(image, group_records_to_walk(image, ignored)), index, false))
        return refused(settings::Group("ldapGroupName"), index, why);
    if (const char *why = account_id_fault(name, settings::get_u(rec, settings::Group("ldapGroupId"))))
        return refused(settings::Group("ldapGroupId"), index, why);
    return std::nullopt;
}

// A table the account files walk: its records, its counter, and how many
// records they walk whatever the counter says (the Administrator's).
struct Walked {
    Field records, counter;
    unsigned always;
};

unsigned walked(const std::uint8_t *image, const Walked &t)
{
    return std::max(t.always, std::min<unsigned>(settings::get_u(image, t.counter), t.records.count));
}

// The records of a table an edit touched, below the count the files walk:
// each with whether the files walked it before, and the place it is charged
// to (the last one in it, else the counter's, else the first).
struct EditedRecord {
    unsigned index;
    bool walked;
    std::size_t place;
};
std::vector<EditedRecord> edited_records(const std::uint8_t *before, const std::uint8_t *after,
                                         std::span<const Place> places, const Walked &t)
{
    unsigned was = walked(before, t), now = walked(after, t);
    std::size_t count_place = 0;
    for (std::size_t k = 0; k < places.size(); ++k)
        if (places[k].field.name == std::string_view(t.counter.name))
            count_place = k;
    std::vector<EditedRecord> list;
    for (unsigned i = 0; i < now; ++i) {
        std::optional<std::size_t> in_it;
        for (std::size_t k = 0; k < places.size(); ++k)
            if (places[k].bit == nullptr && places[k].base == t.records.at(i))
                in_it = k;
        if (in_it || i >= was)
            list.push_back({i, i < was, in_it.value_or(count_place)});
    }
    return list;
}

// The refusals of the records an edit touched: a record is refused unless
// the files already left it out for the same reason.
template <typename Judge>
void record_refusals(const std::uint8_t *before, const std::uint8_t *after, std::span<const Place> places,
                     const Walked &t, Judge judge, std::vector<Refusal> &list)
{
    for (const EditedRecord &r : edited_records(before, after, places, t))
        if (auto why = judge(after, r.index); why && (!r.walked || why != judge(before, r.index)))
            list.push_back({r.place, *why});
}

// Why the load would not keep the image's frame, if so: it refuses the
// magic, the migration cannot bring the version to the current one, or the
// version is newer with a magic other than "002" (which it downgrades).
// Each ends in a factory restore that replaces every setting.
std::optional<std::string> frame_fault(const std::uint8_t *image, bool fips_mode)
{
    unsigned version = settings::get_u(image, F("version"));
    std::string current = std::to_string(settings::kCurrentVersion);
    if (!magic_accepted(image))
        return "magic: " + format_value(image, F("magic")) + " is not a magic the load accepts";
    if (version > settings::kCurrentVersion && std::memcmp(image + F("magic").offset, "002", 3) != 0)
        return "version: " + std::to_string(version) + " is above " + current +
               " with a magic other than 303032 (\"002\"), which the load does not downgrade";
    std::array<std::uint8_t, settings::kImageSize> copy;
    std::copy(image, image + copy.size(), copy.begin());
    settings::migrate_image(copy, fips_mode ? +[] { return 1; } : +[] { return 0; });
    if (settings::get_u(copy.data(), F("version")) < settings::kCurrentVersion)
        return "version: " + std::to_string(version) + " is one the migration cannot bring to " + current;
    return std::nullopt;
}

// Why the text now at the place would not be written as stored; user and
// directory group names are judged with their records.
std::optional<std::string> text_refusal(const std::uint8_t *image, const Place &p)
{
    if (p.bit != nullptr || p.field.type != FieldType::Text)
        return std::nullopt;
    std::string_view text = settings::get_text(image + p.base, p.field, p.index);
    if (p.field.name == std::string_view("userName") || p.field.name == std::string_view("ldapGroupName"))
        return std::nullopt;
    const TextForm *form = &kTextForms[0];
    for (const TextForm &f : kTextForms)
        if (f.field == p.field.name)
            form = &f;
    if (form->written(text) == text)
        return std::nullopt;
    return p.name + ": " + form->why + "; cfgpull would not write it as stored";
}

} // namespace

const Layout *layout_for(unsigned version)
{
    for (const Layout &l : kLayouts)
        if (version >= l.first_version && version <= l.last_version)
            return &l;
    return nullptr;
}

const Layout &current_layout()
{
    return kLayouts[std::size(kLayouts) - 1];
}

std::span<const Field> records_of(const Layout &layout, const Field &table)
{
    std::string_view name = table.name;
    if (table.type != FieldType::Record)
        return {};
    if (name == "userRecords")
        return layout.user_records;
    if (name == "userRecordsFips")
        return layout.fips_user_records;
    if (name == "ldapGroupRecords")
        return layout.group_records;
    return {};
}

bool fips_users(const std::uint8_t *image, bool fips_mode)
{
    return choose_user_layout(image, fips_mode, true).layout == &settings::user_layout(true);
}

std::string FieldName::text() const
{
    return index ? name + "[" + std::to_string(*index) + "]" : name;
}

std::optional<FieldName> parse_field_name(std::string_view text)
{
    std::size_t open = text.find('[');
    if (open == std::string_view::npos)
        return text.empty() ? std::nullopt : std::optional<FieldName>(FieldName{std::string(text), {}});
    if (open == 0 || !text.ends_with(']'))
        return std::nullopt;
    std::string_view digits = text.substr(open + 1, text.size() - open - 2);
    unsigned index = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
    if (digits.empty() || ec != std::errc{} || end != digits.data() + digits.size())
        return std::nullopt;
    return FieldName{std::string(text.substr(0, open)), index};
}

std::variant<Place, std::string> resolve(const FieldName &n, const std::uint8_t *image, bool fips_mode)
{
    const Layout &layout = current_layout();
    if (const Field *f = find_in(layout.fields, n.name)) {
        if (f->type == FieldType::Record)
            return n.name + ": a table; name a field of its records";
        if (f->count == 1 && n.index.value_or(0) == 0)
            return Place{n.text(), *f, 0, 0, nullptr};
        if (!n.index || *n.index >= f->count)
            return index_error(n, f->count);
        return Place{n.text(), *f, 0, *n.index, nullptr};
    }
    for (const Bit &b : layout.bits)
        if (n.name == b.name && !n.index)
            return Place{n.text(), b.byte, 0, 0, &b};
    // userName and userGecos are in both user layouts: the one in use decides.
    bool fips = fips_users(image, fips_mode);
    const settings::UserLayout &users = settings::user_layout(fips);
    const settings::UserLayout &other = settings::user_layout(!fips);
    for (const settings::UserLayout *u : {&users, &other})
        if (const Field *f = find_in(records_of(layout, u->records), n.name))
            return record_place(n, *f, u->records);
    if (const Field *f = find_in(layout.group_records, n.name))
        return record_place(n, *f, F("ldapGroupRecords"));
    return n.name + ": no such field";
}

bool is_mask(const Field &f)
{
    return is_number(f.type) && named_in(kMasks, f);
}

bool is_secret(const Field &f)
{
    return named_in(kSecrets, f);
}

HashBytes::HashBytes(const Layout &layout, const std::uint8_t *image)
{
    for (const Field &table : layout.fields)
        for (const Field &r : records_of(layout, table))
            for (unsigned i = 0; is_secret(r) && i < table.count && table.at(i) + r.end() <= settings::kImageSize; ++i)
                if (std::size_t length = settings::get_text(image + table.at(i), r).size())
                    ranges_.push_back({table.at(i) + r.offset, length});
}

bool HashBytes::overlap(std::size_t offset, std::size_t size) const
{
    return std::any_of(ranges_.begin(), ranges_.end(),
                       [&](const auto &r) { return r.first < offset + size && offset < r.first + r.second; });
}

bool shows_secret(const Place &p, const HashBytes &hashes)
{
    return is_secret(p.field) || (p.bit == nullptr && hashes.overlap(p.base + p.field.at(p.index), p.field.size));
}

std::string format_value(const std::uint8_t *base, const Field &f, unsigned index)
{
    switch (f.type) {
    case FieldType::Text:
        return std::string(settings::get_text(base, f, index));
    case FieldType::Ipv4:
        return ipv4_text(settings::bytes(base, f, index));
    case FieldType::Ipv6:
        return ipv6_text(settings::bytes(base, f, index));
    case FieldType::Bytes:
    case FieldType::Record:
        return hex_bytes(settings::bytes(base, f, index));
    default:
        break;
    }
    if (is_mask(f)) {
        char s[12];
        std::snprintf(s, sizeof s, "0x%X", settings::get_u(base, f, index));
        return s;
    }
    if (is_signed(f.type))
        return std::to_string(settings::get_i(base, f, index));
    return std::to_string(settings::get_u(base, f, index));
}

std::string format_place(const std::uint8_t *image, const Place &place)
{
    if (place.bit)
        return settings::get_bit(image, *place.bit) ? "1" : "0";
    return format_value(image + place.base, place.field, place.index);
}

std::optional<std::string> assign(std::uint8_t *image, const Place &p, std::string_view value)
{
    if (p.bit) {
        if (value != "0" && value != "1")
            return p.name + ": 0 or 1";
        settings::set_bit(image, *p.bit, value == "1");
        return std::nullopt;
    }
    std::uint8_t *base = image + p.base;
    switch (p.field.type) {
    case FieldType::Text:
        if (value.find('\0') != std::string_view::npos)
            return p.name + ": a text cannot hold a NUL byte (\\x00)";
        if (value.size() >= p.field.size)
            return p.name + ": at most " + std::to_string(p.field.size - 1) + " characters";
        settings::set_text(base, p.field, value, p.index);
        return std::nullopt;
    case FieldType::Ipv4:
        return assign_address(base, p, value, AF_INET);
    case FieldType::Ipv6:
        return assign_address(base, p, value, AF_INET6);
    case FieldType::Bytes:
        return assign_bytes(base, p, value);
    case FieldType::Record:
        return p.name + ": a table; name a field of its records";
    default:
        return assign_number(base, p, value);
    }
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::vector<Refusal> edit_refusals(const std::uint8_t *before, const std::uint8_t *after,
                                   std::span<const Place> places, bool fips_mode, bool force)
{
    std::vector<Refusal> list;
    std::optional<std::size_t> frame_place;
    for (std::size_t k = 0; k < places.size(); ++k) {
        if (auto why = text_refusal(after, places[k]))
            list.push_back({k, *why});
        if (places[k].field.name == std::string_view("magic") || places[k].field.name == std::string_view("version"))
            frame_place = k;
    }
    if (auto why = frame_place && !force ? frame_fault(after, fips_mode) : std::nullopt)
        list.push_back({*frame_place, *why + ": the next boot (cfgpull -sa) would replace every setting by factory "
                                             "defaults; refused without --force"});
    record_refusals(before, after, places, {F("ldapGroupRecords"), F("ldapGroupCount"), 0}, group_record_refusal, list);
    bool fips_before = fips_users(before, fips_mode), fips_after = fips_users(after, fips_mode);
    if (fips_before != fips_after) {  // the records are other bytes now: forced, they are the user's to check
        if (!force)
            list.push_back({0, std::string(settings::user_layout(fips_before).hash.name) + "[0]: " +
                                   (fips_after ? "a $5$ hash makes" : "a hash other than $5$ makes") +
                                   " cfgpull read the user table in the " + (fips_after ? "FIPS" : "standard") +
                                   " layout, where its records are other bytes; refused without --force"});
        return list;
    }
    auto user_refusal = [&](const std::uint8_t *image, unsigned index) {
        return user_record_refusal(image, index, fips_mode);
    };
    record_refusals(before, after, places, {settings::user_layout(fips_after).records, F("userCount"), 1}, user_refusal,
                    list);
    return list;
}

} // namespace cfgimage
