#include "writers/values.h"

#include "writers/text.h"

#include <cstring>

namespace writers {

namespace {

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

std::string unquoted(std::string_view text)
{
    std::string s = one_line(text);
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

const char *snmp_word_fault(std::string_view text, bool host)
{
    if (host && text.starts_with('#'))
        return "starts with '#', which the SNMP agent reads as a comment";
    if (host && text.starts_with('-'))
        return "starts with '-', which the SNMP agent reads as an option";
    for (char c : text)
        if (is_space(static_cast<unsigned char>(c)))
            return "holds whitespace";
    return nullptr;
}

} // namespace writers
