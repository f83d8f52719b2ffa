// The shared output buffer and the one way a configuration file is written.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

// 8192 bytes of text: appends are bounded, so the text stops silently at
// 8191 characters, as the services reading the files have always seen it.
class OutputBuffer {
public:
    static constexpr std::size_t kSize = 8192;

    void clear();
    void append(const char *format, ...) __attribute__((format(printf, 2, 3)));
    void append_text(std::string_view text);
    std::string_view text() const { return {buffer_, length_}; }
    std::size_t length() const { return length_; }

private:
    char buffer_[kSize] = {};
    std::size_t length_ = 0;
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
