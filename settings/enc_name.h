// The enclosure name's escaping: the factory defaults store the name
// escaped, the enclosure file writes it so, and the program exports both
// routines by name for other components of the module.
#pragma once

#include <cstddef>
#include <string_view>

extern "C" {
// Escapes the name in place (a buffer of at least 33 bytes): every
// character other than a letter, digit, '-' or '_' gets a backslash before
// it. Only the first 32 characters count. The result stays within the 33
// bytes: an escape pair that would not fit is left out with all that follows.
// Returns `name`; null gives null.
char *escape_enc_name(char *name);
// Undoes escape_enc_name in place: "\\\\" gives one backslash, a backslash
// before anything else (or at the end) is dropped. Returns `name`; null gives null.
char *unescape_enc_name(char *name);
}

inline constexpr std::size_t kEncNameMax = 32;  // characters of a name that count

// Escapes at most kEncNameMax characters of `name` into `out` (out_size
// bytes, NUL included), stopping before a pair that would not fit. Returns
// the length written.
std::size_t escape_enc_name_into(std::string_view name, char *out, std::size_t out_size);

