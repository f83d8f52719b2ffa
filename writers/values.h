// Settings as the key=value writers print them.
#pragma once

#include "settings/layout.h"
#include "writers/output.h"

#include <string>

namespace writers {

// A number as the C formats see it: unsigned fields are not sign-extended.
inline int number(const std::uint8_t *base, settings::Field f, unsigned index = 0)
{
    bool is_signed = f.type == settings::FieldType::I16 || f.type == settings::FieldType::I32;
    return is_signed ? settings::get_i(base, f, index) : static_cast<int>(settings::get_u(base, f, index));
}

// A text field as one line of a file.
inline std::string value(const std::uint8_t *base, settings::Field f, unsigned index = 0)
{
    return one_line(settings::get_text(base, f, index));
}

// A text field without the quote characters, for values written between
// single quotes.
std::string without_quotes(const std::uint8_t *base, settings::Field f);

} // namespace writers
