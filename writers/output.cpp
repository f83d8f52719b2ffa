#include "writers/output.h"

#include "platform/platform.h"
#include "store/exit.h"
#include "store/write_all.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

OutputBuffer output_buffer;

void OutputBuffer::clear()
{
    std::memset(buffer_, 0, sizeof buffer_);
    length_ = 0;
}

void OutputBuffer::append(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(buffer_ + length_, kSize - length_, format, ap);
    va_end(ap);
    if (n > 0)
        length_ = std::strlen(buffer_);  // the cut text ends where the formatter stopped
}

void OutputBuffer::append_text(std::string_view text)
{
    std::size_t room = kSize - 1 - length_;
    std::size_t n = text.size() < room ? text.size() : room;
    if (n > 0)
        std::memcpy(buffer_ + length_, text.data(), n);
    length_ += n;
    buffer_[length_] = '\0';
}

void write_config_file(const ConfigFile &file, std::string_view text)
{
    int fd = platform::open(file.path, O_WRONLY | O_CREAT | O_TRUNC, file.mode);
    if (fd < 0) {
        std::perror(file.create_error);
        cleanup_and_exit(file.create_status);
    }
    int err = write_all(fd, text.data(), text.size());
    if (err != 0) {
        errno = err;
        std::perror(file.write_error);
        ::close(fd);
        cleanup_and_exit(file.write_status);
    }
    ::close(fd);
}
