#include "writers/output.h"

#include "platform/platform.h"
#include "store/exit.h"
#include "store/replace.h"

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
    std::optional<ReplaceFailure> failed = replace_file(file.path, text, file.mode);
    if (!failed)
        return;
    errno = failed->error;
    bool created = failed->step == ReplaceStep::Write;
    std::perror(created ? file.write_error : file.create_error);
    cleanup_and_exit(created ? file.write_status : file.create_status);
}
