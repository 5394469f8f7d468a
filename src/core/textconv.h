// Text conversions shared by commands: hex text, colon hex, numbers and addresses.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zm {

// The value of one hexadecimal digit (either case), or -1 for any other character.
constexpr int hex_digit_value(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// Two upper-case hex digits per byte, "0x" first when asked. Returns the
// end of the text (the text must have room for 2*count + 3 characters).
char* bin2asciihex(const uint8_t* bytes, size_t count, char* text, bool with_prefix);
std::string bin2asciihex(const uint8_t* bytes, size_t count, bool with_prefix);

// Hex text (optional 0x, digits and colons) to bytes; at most `capacity`
// bytes are written. Returns the number of bytes the text holds (which may
// exceed capacity: callers compare).
size_t asciihex2binary(uint8_t* bytes, size_t capacity, const char* text, bool pad);
std::vector<uint8_t> asciihex2binary(const char* text, bool pad);

// "%02x:" per byte with the last colon removed.
std::string bin2colonhex(const uint8_t* bytes, size_t count);

// Number or address text: returns 4 (a host-order 32-bit value stored in
// *value), a positive byte count (bytes stored in *bytes), or -1 (dotted
// text too long), -2 (decimal text too long), -3 (no digits).
int asciinum2binary(const char* text, uint32_t* value, std::vector<uint8_t>* bytes);

// Dotted IPv4 text or host name to an address in network order; 0xFFFFFFFF
// when unknown.
uint32_t resolve_host(const char* name);

}  // namespace zm
