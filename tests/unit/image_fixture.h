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

// Builds an image of `size` bytes (zero where no line says otherwise).
// Throws std::runtime_error naming the line on anything it cannot place.
std::vector<std::uint8_t> load_image_fixture(const std::string &path, std::size_t size);

// Applies lines of the same form, given as text, in the current layout
// (or the one a "layout" line names).
void patch_image(std::vector<std::uint8_t> &image, const std::string &lines);

// The same, read from a file.
void patch_image_file(std::vector<std::uint8_t> &image, const std::string &path);

// Name of the current-layout field that holds byte `offset`.
std::string field_at(std::size_t offset);
