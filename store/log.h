#pragma once

#include <syslog.h>

// One syslog entry under "cfgtools", facility user; text cut at 1023 characters.
void log_event(int priority, const char *format, ...) __attribute__((format(printf, 2, 3)));
