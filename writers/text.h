// In-place text filters shared by the writers and the factory defaults.
#pragma once

// Removes every occurrence of `c` from the NUL-terminated `text`, closing the
// gaps; returns `text`.
char *strip_char(char *text, int c);
