// The Fletcher check octets shared by the "fletch" and "ospf_lsa" checksums.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zm::xsum {

struct FletcherOctets {
    int32_t x;  // first check octet, 1..255
    int32_t y;  // second check octet, 1..255
};

// The two check octets that make the `len` bytes at `p` sum to zero, for a
// checksum at 1-based positions 17 and 18 that holds zeros while summing.
FletcherOctets fletcher_octets(const uint8_t* p, size_t len);

}  // namespace zm::xsum
