#include "writers/output.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

OutputBuffer output_buffer;

void OutputBuffer::append(const char *format, ...)
{
    va_list ap, again;
    va_start(ap, format);
    va_copy(again, ap);
    char piece[256];  // most pieces are a line or less: one formatting
    int n = std::vsnprintf(piece, sizeof piece, format, ap);
    va_end(ap);
    if (n > 0 && static_cast<std::size_t>(n) < sizeof piece) {
        text_.append(piece, static_cast<std::size_t>(n));
    } else if (n > 0) {
        std::size_t at = text_.size(), size = static_cast<std::size_t>(n);
        text_.resize(at + size + 1);
        std::vsnprintf(text_.data() + at, size + 1, format, again);
        text_.resize(at + size);
    }
    va_end(again);
}
