// Text filters and character classes shared by the writers and the factory
// defaults.
#pragma once

// Removes every occurrence of `c` from the NUL-terminated `text`, closing the
// gaps; returns `text`.
char *strip_char(char *text, int c);

// White space as the C locale's isspace has it.
inline bool is_space(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The C0 control characters and DEL.
inline bool is_control(unsigned char c)
{
    return c < ' ' || c == 0x7F;
}
