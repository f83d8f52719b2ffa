#include "store/log.h"

#include "platform/platform.h"

#include <cstdarg>
#include <cstdio>

void log_event(int priority, const char *format, ...)
{
    char text[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    platform::log("cfgtools", LOG_USER, priority, text);
}
