// The shared output buffer and the one way a configuration file is written.
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

// How a configuration file is created and what a failure says.
struct ConfigFile {
    const char *path;          // module path, e.g. "/etc/ldapconf"
    mode_t mode;               // 0664 for text files
    const char *create_error;  // perror text when it cannot be created
    int create_status;         // exit status then
    const char *write_error;   // perror text when the write fails
    int write_status;
};

// Replaces the file whole with `text` (see store/replace.h): no reader,
// crash or full disk ever finds it cut short. Failures print their perror
// text (the create text when no new file could be started) and leave
// through cleanup_and_exit.
void write_config_file(const ConfigFile &file, std::string_view text);
