#include "detection/Signature_Descramble.h"

#include <array>

namespace {

constexpr std::uint8_t Odd_Key = 0x5E;    // second byte of each pair
constexpr std::uint8_t Even_Key = 0x93;   // first byte of each pair
constexpr std::uint8_t Plain_Key = 0xE6;  // every plain byte

}  // namespace

int Signature_Window_Length(int n) { return n % 2 == 0 ? n + 20 : n + 21; }

int Descramble_Signature_Blob(std::span<const std::uint8_t> blob, std::span<std::uint8_t> out, int n) {
    if (n < 1 || n > Max_Signature_Window) return 0;
    const int m = Signature_Window_Length(n);
    if (m > Max_Signature_Window || blob.size() < static_cast<std::size_t>(Signature_Window_Offset + m) ||
        out.size() < static_cast<std::size_t>(n))
        return 0;
    const std::uint8_t* window = blob.data() + Signature_Window_Offset;
    // Each pair is keyed and its two bytes change places...
    std::array<std::uint8_t, Max_Signature_Window> swapped{};
    for (int i = 1; i < m; i += 2) {
        swapped[i - 1] = window[i] ^ Odd_Key;
        swapped[i] = window[i - 1] ^ Even_Key;
    }
    // ...then the first n bytes are keyed again and come out in reverse order.
    for (int j = 0; j < n; ++j) out[j] = swapped[n - 1 - j] ^ Plain_Key;
    return n;
}

std::string Scramble_Signature(std::string_view plain, std::uint8_t filler) {
    const int n = static_cast<int>(plain.size());
    std::string blob(static_cast<std::size_t>(Signature_Window_Offset + Signature_Window_Length(n)),
                     static_cast<char>(filler));
    char* window = blob.data() + Signature_Window_Offset;
    for (int j = 0; j < n; ++j) {
        const int q = n - 1 - j;
        const auto byte = static_cast<std::uint8_t>(plain[j] ^ Plain_Key);
        if (q % 2 == 0) window[q + 1] = static_cast<char>(byte ^ Odd_Key);
        else window[q - 1] = static_cast<char>(byte ^ Even_Key);
    }
    return blob;
}
