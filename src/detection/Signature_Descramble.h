// Turns a stored Signature.db blob back into its plain bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The window of a plain length n: n + 20 bytes for an even n, n + 21 for an
// odd one (always even).
int Signature_Window_Length(int n);

// Writes the n plain bytes of `blob` (window at offset 11) to the start of
// `out`, with no terminating zero, and returns n. When n is below 1, the
// window is longer than Max_Signature_Window, the blob does not hold the whole
// window or `out` is shorter than n, nothing is written and 0 is returned.
int Descramble_Signature_Blob(std::span<const std::uint8_t> blob, std::span<std::uint8_t> out, int n);

inline constexpr int Signature_Window_Offset = 11;
inline constexpr int Max_Signature_Window = 1024;

// The stored form of a plain text, the exact inverse of the routine above (for
// the tool that writes Signature.db from the project's signature list): 11
// unused bytes, then the window of Signature_Window_Length(n) bytes. Plain
// byte j is the window byte at q = n - 1 - j after the pair swap: stored at
// window position q + 1 under 0x5E when q is even, at q - 1 under 0x93 when q
// is odd, both also under 0xE6. Every byte the routine does not read is
// `filler`.
std::string Scramble_Signature(std::string_view plain, std::uint8_t filler = 0xA5);
