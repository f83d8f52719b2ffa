#include "writers/text.h"

char *strip_char(char *text, int c)
{
    char *out = text;
    for (const char *in = text; *in != '\0'; ++in)
        if (*in != static_cast<char>(c))
            *out++ = *in;
    *out = '\0';
    return text;
}
