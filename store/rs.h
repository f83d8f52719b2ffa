// CCSDS (255,223) Reed-Solomon code, dual-basis symbols, as stored on /dev/env.
#pragma once

#include <cstddef>

inline constexpr std::size_t kRsN = 255;      // codeword length
inline constexpr std::size_t kRsK = 223;      // data bytes per codeword
inline constexpr std::size_t kRsParity = 32;  // check bytes per codeword

// Reads kRsK data bytes, writes kRsParity check bytes. Returns 0.
int rs_encode(unsigned char *data, unsigned char *check);

// Corrects a 255-byte codeword in place. Returns the number of corrected
// bytes (0..16), or -1 when uncorrectable (the codeword is then unchanged).
int rs_decode(unsigned char *codeword);
