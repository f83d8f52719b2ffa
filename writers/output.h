// The shared output buffer.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

// A file's text as it is composed. It grows as needed: a text cut at a
// fixed size would lose the lines after the cut (in passwd, the service
// accounts and their kept passwords). Clearing keeps the memory for the
// next file.
class OutputBuffer {
public:
    void clear() { text_.clear(); }
    void append(const char *format, ...) __attribute__((format(printf, 2, 3)));
    void append_text(std::string_view text) { text_.append(text); }
    std::string_view text() const { return text_; }
    std::size_t length() const { return text_.size(); }

private:
    std::string text_;
};

extern OutputBuffer output_buffer;

