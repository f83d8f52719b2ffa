#include "settings/enc_name.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

namespace {

bool passes_unescaped(unsigned char c)
{
    return std::isalnum(c) != 0 || c == '-' || c == '_';
}

// Copies at most kEncNameMax characters of `name` and clears the caller's
// 33 bytes, as both in-place routines start.
std::string take_name(char *name)
{
    std::string scratch(name, strnlen(name, kEncNameMax));
    std::memset(name, 0, kEncNameMax + 1);
    return scratch;
}

} // namespace

std::size_t escape_enc_name_into(std::string_view name, char *out, std::size_t out_size)
{
    if (out_size == 0)
        return 0;
    name = name.substr(0, std::min(name.size(), kEncNameMax));
    std::size_t n = 0;
    for (char c : name) {
        bool escape = !passes_unescaped(static_cast<unsigned char>(c));
        if (n + (escape ? 2 : 1) >= out_size)
            break;
        if (escape)
            out[n++] = '\\';
        out[n++] = c;
    }
    out[n] = '\0';
    return n;
}

extern "C" char *escape_enc_name(char *name)
{
    if (name == nullptr)
        return nullptr;
    std::string scratch = take_name(name);
    escape_enc_name_into(scratch, name, kEncNameMax + 1);
    return name;
}

extern "C" char *unescape_enc_name(char *name)
{
    if (name == nullptr)
        return nullptr;
    std::string scratch = take_name(name);
    std::size_t n = 0;
    for (std::size_t k = 0; k < scratch.size(); ++k) {
        if (scratch[k] != '\\') {
            name[n++] = scratch[k];
        } else if (k + 1 < scratch.size() && scratch[k + 1] == '\\') {
            name[n++] = '\\';
            ++k;
        }
    }
    return name;
}

