// Settings fields by name: which layout a version uses, where a named field
// sits, and its value as text in both directions. Pure functions over the
// field tables of settings/.
#pragma once

#include "settings/layout.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace cfgimage {

using settings::Bit;
using settings::Field;

// The tables one range of versions is read with.
struct Layout {
    unsigned first_version, last_version;
    std::span<const Field> fields;
    std::span<const Field> user_records;       // records of userRecords
    std::span<const Field> fips_user_records;  // records of userRecordsFips; empty when none
    std::span<const Field> group_records;      // records of ldapGroupRecords
    std::span<const Bit> bits;
};

// Null when no table describes the version.
const Layout *layout_for(unsigned version);
const Layout &current_layout();

// The record table of a Record field; empty for other fields.
std::span<const Field> records_of(const Layout &layout, const Field &table);

// A user table reads in the FIPS layout when asked to, or when the stored
// administrator hash says it was written so.
bool fips_users(const std::uint8_t *image, bool fips_mode);

// "name" or "name[index]".
struct FieldName {
    std::string name;
    std::optional<unsigned> index;
    std::string text() const;
};
std::optional<FieldName> parse_field_name(std::string_view text);

// A named element of the image: the field, the byte its record (or the
// image) starts at, and the element. A bit has `bit` set.
struct Place {
    std::string name;  // as written, index included
    Field field;
    std::size_t base = 0;
    unsigned index = 0;
    const Bit *bit = nullptr;
};

// Finds a field of the current layout, a bit, or a field of user record or
// directory group record `index`. Returns the place or a one-line error.
std::variant<Place, std::string> resolve(const FieldName &name, const std::uint8_t *image, bool fips_mode);

// Numbers shown in hexadecimal: masks, flag bytes, signatures.
bool is_mask(const Field &f);
// Password hashes, the directory service password, the LCD PIN and the
// SNMP communities.
bool is_secret(const Field &f);

// The bytes of an image that hold the text of a password hash (up to its
// terminator) in either user table. A secret follows its bytes: the two
// tables lie over the same bytes and the image does not say which it
// holds, so a field of one table may show a hash of the other.
class HashBytes {
public:
    HashBytes(const Layout &layout, const std::uint8_t *image);
    bool overlap(std::size_t offset, std::size_t size) const;

private:
    std::vector<std::pair<std::size_t, std::size_t>> ranges_;  // offset, length
};

// Whether a place of the current layout is a secret or shows any of one.
bool shows_secret(const Place &p, const HashBytes &hashes);

// The element as text: texts as stored, numbers in decimal (masks "0x.."),
// addresses as the files write them, other bytes in hexadecimal.
std::string format_value(const std::uint8_t *base, const Field &f, unsigned index = 0);
std::string format_place(const std::uint8_t *image, const Place &place);

// Stores `value` at the place, or returns a one-line error naming the field
// and its limit and leaves the image as it was.
std::optional<std::string> assign(std::uint8_t *image, const Place &place, std::string_view value);

// The value of a hexadecimal digit, or -1.
int hex_digit(char c);

// Why an edit from `before` to `after` that stored at `places` would not be
// written as stored, each charged to the place that caused it: a text that
// cfgpull would change, leave out with its record or not have its reader
// get back; a user record or directory group the account files would leave
// out or write with another password field (each record an edited field
// belongs to, and each one a larger count brings in; one the files already
// leave out for the same reason may still be edited); unless `force`, a
// change of the user layout the account files read, and a magic or version
// set that the load would not keep (a factory restore at the next boot).
// Empty when the edit stands.
struct Refusal {
    std::size_t place;  // index into `places`
    std::string why;    // one line
};
std::vector<Refusal> edit_refusals(const std::uint8_t *before, const std::uint8_t *after,
                                   std::span<const Place> places, bool fips_mode, bool force);

} // namespace cfgimage
