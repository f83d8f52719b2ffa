// Settings as the files print them. The module's services read a key=value
// file line by line and take what follows the first '=' raw, so a value is
// written as stored, less the line breaks that would start another key.
// snmpd.conf is parsed by the SNMP agent, whose words need quoting.
#pragma once

#include "settings/layout.h"
#include "writers/output.h"

#include <string>
#include <string_view>

namespace writers {

// A text without its line breaks: no file can hold them inside one line.
std::string one_line(std::string_view value);

// A number as the C formats see it: unsigned fields are not sign-extended.
inline int number(const std::uint8_t *base, settings::Field f, unsigned index = 0)
{
    bool is_signed = f.type == settings::FieldType::I16 || f.type == settings::FieldType::I32;
    return is_signed ? settings::get_i(base, f, index) : static_cast<int>(settings::get_u(base, f, index));
}

// A text field as the value of a key=value line.
inline std::string value(const std::uint8_t *base, settings::Field f, unsigned index = 0)
{
    return one_line(settings::get_text(base, f, index));
}

// A text without line breaks and quote characters, for values written
// between single quotes (where every other character is literal).
std::string unquoted(std::string_view text);
inline std::string without_quotes(const std::uint8_t *base, settings::Field f)
{
    return unquoted(settings::get_text(base, f));
}

// snmpd.conf. A community is one word of the agent's syntax: double-quoted
// with backslash escapes when it holds anything but plain printable
// characters. A location or contact is the rest of its line, so it cannot
// start with '#' or whitespace nor end with whitespace: those are written
// in the closest form the agent reads.
std::string snmp_community(std::string_view text);
std::string snmp_rest_of_line(std::string_view text);
// A trapsink line's words are split at white space and never quoted, and
// a squeezed word would send traps somewhere nobody set: why `text` cannot
// be one as stored (white space; for a host, a first '#' or '-', which the
// agent reads as a comment or an option), or null.
const char *snmp_word_fault(std::string_view text, bool host);

} // namespace writers
