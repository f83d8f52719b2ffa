#include "writers/values.h"

#include "writers/text.h"
#include "writers/user_table.h"

#include <cstring>

namespace writers {

namespace {

bool shell_literal(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c >= 0x80 ||
           std::strchr("%+,-./:=@_", c) != nullptr;
}

// Printable ASCII that the agent's word reader takes literally, unquoted.
bool snmp_plain(unsigned char c)
{
    return c > ' ' && c < 0x7F && std::strchr("\"'\\#", c) == nullptr;
}

std::string backslashed(std::string_view text, const char *special)
{
    std::string s;
    for (char c : text) {
        if (std::strchr(special, c) != nullptr)
            s += '\\';
        s += c;
    }
    return s;
}

const char *line_break_fault(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos ? "it holds a line break" : nullptr;
}

const char *quoted_fault(std::string_view text)
{
    return text.find_first_of("\r\n\"'`") != std::string_view::npos ? "it holds a quote character or a line break"
                                                                     : nullptr;
}

const char *rest_of_line_fault(std::string_view text)
{
    if (const char *why = line_break_fault(text))
        return why;
    return snmp_rest_of_line(text) != text ? "it starts with '#' or whitespace or ends with whitespace" : nullptr;
}

const char *host_fault(std::string_view text)
{
    return snmp_word(text, true) != text ? "it holds whitespace or starts with '#'" : nullptr;
}

const char *word_fault(std::string_view text)
{
    return snmp_word(text, false) != text ? "it holds whitespace" : nullptr;
}

struct Rule {
    std::string_view field;
    const char *(*fault)(std::string_view);
};

// Text fields whose writers do more than leave out line breaks.
constexpr Rule kRules[] = {
    {"lcdUserNotes", quoted_fault},
    {"senderName", quoted_fault},
    {"syslocation", rest_of_line_fault},
    {"syscontact", rest_of_line_fault},
    {"trapReceivers", host_fault},
    {"trapCommunities", word_fault},
    {"userGecos", account_field_fault},
    {"userPasswordHash", account_field_fault},
    {"userPasswordHashFips", account_field_fault},
    {"ldapGroupDescription", account_field_fault},
};

} // namespace

std::string one_line(std::string_view value)
{
    std::string s;
    s.reserve(value.size());
    for (char c : value)
        if (c != '\n' && c != '\r')
            s += c;
    return s;
}

std::string shell_text(std::string_view value)
{
    std::string s;
    s.reserve(value.size());
    for (char c : value) {
        if (!shell_literal(static_cast<unsigned char>(c)))
            s += '\\';
        s += c;
    }
    return s;
}

std::string without_quotes(const std::uint8_t *base, settings::Field f)
{
    std::string s = one_line(settings::get_text(base, f));
    s.push_back('\0');
    for (int quote : {'"', '`', '\''})
        strip_char(s.data(), quote);
    s.resize(std::strlen(s.c_str()));
    return s;
}

std::string snmp_community(std::string_view text)
{
    std::string s = one_line(text);
    for (char c : s)
        if (!snmp_plain(static_cast<unsigned char>(c))) {
            // The agent hands the word on inside single quotes to a second
            // reading of its own, so both readings are escaped for.
            return "\"" + backslashed(backslashed(s, "\\'"), "\\\"") + "\"";
        }
    return s;
}

std::string snmp_rest_of_line(std::string_view text)
{
    std::string_view s = text;
    while (!s.empty() && (is_space(static_cast<unsigned char>(s.front())) || s.front() == '#'))
        s.remove_prefix(1);
    while (!s.empty() && is_space(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return std::string(s);
}

std::string snmp_word(std::string_view text, bool host)
{
    std::string s;
    for (char c : text)
        if (!is_space(static_cast<unsigned char>(c)) && !(host && s.empty() && c == '#'))
            s += c;
    return s;
}

const char *value_fault(const settings::Field &f, std::string_view text)
{
    for (const Rule &r : kRules)
        if (r.field == f.name)
            return r.fault(text);
    return line_break_fault(text);
}

} // namespace writers
