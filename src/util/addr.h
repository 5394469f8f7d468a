// Address text conversions for scripts: MAC and IPv4 addresses to and from hexadecimal, MAC bit-order swap.
#pragma once

#include <string>
#include <string_view>

namespace zm {

// Address families of the conversion table.
inline constexpr int kAddrFamilyMac = -1;
inline constexpr int kAddrFamilyIpv4 = 2;

// Each conversion returns true with the converted text in *out, or false with
// the error message (without a trailing full stop) in *out.

// IPv4 dotted text to "0x" and the host-order value in lower-case hex;
// MAC text (0x digits or colon-separated bytes) to "0x" and 12 upper-case digits.
bool addr_to_bin(std::string_view address, int family, std::string* out);

// Hex text (optional "0x", short forms zero-filled at the front) to dotted
// IPv4 or lower-case colon-separated MAC text.
bool bin_to_addr(std::string_view hex, int family, std::string* out);

// Reverses the bit order within each byte of a MAC address given in 0x or
// colon form; the result is "0x" and 12 lower-case digits, all upper case
// when `upper` is set.
bool canonical_swap(std::string_view mac, bool upper, std::string* out);

}  // namespace zm
