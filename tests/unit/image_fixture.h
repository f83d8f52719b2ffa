// Settings images described as text: one "field value" line per setting,
// read against the field tables of one layout. Used to keep hand-built
// images readable.
//
//   layout 19|20|40
//   field value             element 0
//   field[3] value          one element
//   field[*] value          every element; in texts %d is the index
//   records[*].sub value    a field of every record (records[2].sub: one)
//
// Settings may share a line, separated by "; ".
// Values: "text" (raw characters, rest of the element zero), hex:0a0b..,
// fill:XX (every byte), or a number N, N+i, N*i (i is the index).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Applies the lines (in the current layout unless a "layout" line names
// another). Throws std::runtime_error naming `origin` and the line on
// anything it cannot place.
void patch_image(std::vector<std::uint8_t> &image, const std::string &lines, const std::string &origin = "patch");

// The lines that build `image` from zeros in the current layout: every
// element that is not all zero, record fields one by one, the user table as
// a module in FIPS mode (or not) reads it.
std::string describe_image(const std::uint8_t *image, bool fips);

// A whole file; throws when it cannot be read.
std::string read_file(const std::string &path);
