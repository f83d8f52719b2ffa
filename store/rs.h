// CCSDS (255,223) Reed-Solomon code, dual-basis symbols, as stored on /dev/env.
#pragma once

#include <atomic>
#include <cstddef>

inline constexpr std::size_t RS_N = 255;      // codeword length
inline constexpr std::size_t RS_K = 223;      // data bytes per codeword
inline constexpr std::size_t RS_PARITY = 32;  // check bytes per codeword

// Reads RS_K data bytes, writes RS_PARITY check bytes. Returns 0.
int rs_encode(unsigned char *data, unsigned char *check);

// Corrects a 255-byte codeword in place. Returns the number of corrected
// bytes (0..16), or -1 when uncorrectable (the codeword is then unchanged).
int rs_decode(unsigned char *codeword);

// Builds the code's tables once for the life of the process (thread-safe,
// idempotent). rs_encode and rs_decode call it when rs_initialised is 0.
void rs_init();

// Process-wide flag: 1 once rs_init has built the tables.
extern std::atomic<int> rs_initialised;

// Symbol representation conversions (conventional <-> dual basis), exposed
// for tests and diagnostics; both call rs_init when needed.
unsigned char rs_to_dual(unsigned char conventional);
unsigned char rs_from_dual(unsigned char dual);
