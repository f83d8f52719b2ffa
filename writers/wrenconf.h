// /etc/wrenconf, the enclosure file.
#pragma once

#include "writers/output.h"

#include <cstdint>

// The text of /etc/wrenconf for a settings image.
void compose_wrenconf(const std::uint8_t *image, OutputBuffer &out);
