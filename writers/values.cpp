#include "writers/values.h"

#include "writers/text.h"

#include <cstring>

namespace writers {

std::string without_quotes(const std::uint8_t *base, settings::Field f)
{
    std::string s = value(base, f);
    s.push_back('\0');
    for (int quote : {'"', '`', '\''})
        strip_char(s.data(), quote);
    s.resize(std::strlen(s.c_str()));
    return s;
}

} // namespace writers
