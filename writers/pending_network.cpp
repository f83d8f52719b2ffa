// Writers not built yet: each does nothing.
#include "writers/writers.h"

void write_enclosure_settings_to_fs(void) {}
void write_network_settings_to_fs(void) {}
