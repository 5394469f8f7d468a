// Checksum algorithms and the process-wide registry that names them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zm {

// One checksum algorithm.
//   data      first byte of the checksum range (for "udp" and "tcp" the IPv4
//             header, for "icmpv6" the IPv6 header, for "ospf_lsa" the LSA).
//   start_bit unused (the range always starts on a byte).
//   bits      the range in bits; for "udp" and "tcp" the bit offset of the
//             transport header from `data` instead, for "icmpv6" the bit
//             offset of the byte after the message's type byte.
//   result    receives the checksum; the return value is the same number
//             (except "fletch", which returns its second check octet).
//   reserved  always 0.
//   width     width of the checksum field in bits; unused.
//   fixup     the encoder's fix-up record or null; unused.
//   avail     number of bytes that may be read from `data` onwards: the rest
//             of the packet. Ranges and the lengths a packet's own headers
//             claim are clamped to it, so an algorithm never reads (or, for
//             "ospf_lsa", writes) outside the packet.
// Algorithms do not fail; odd lengths and clamped ranges are reported as
// warnings through the reporter with a null interpreter.
using ChecksumFn = int32_t (*)(uint8_t* data, int start_bit, int32_t bits, int32_t* result, int reserved,
                               int width, void* fixup, size_t avail);

// Registry. The built-in algorithms are registered on first use of any of
// these functions, in the order tcp, dod, fletch, udp, ospf, ospf_lsa, icmp,
// icmpv6; entries are kept newest first. Entries are never removed.

// Adds an entry in front of all others (a repeated name shadows the older entry).
void register_checksum(const char* name, ChecksumFn algorithm);
// The algorithm of the first entry whose name matches exactly, or null.
ChecksumFn find_checksum(const char* name);
// The name of the first entry holding `algorithm`, or null.
const char* checksum_name(ChecksumFn algorithm);
// All names, newest first.
std::vector<std::string> checksum_names();

// The built-in algorithms.
int32_t tcp_xsum(uint8_t* data, int start_bit, int32_t bits, int32_t* result, int reserved, int width, void* fixup,
                 size_t avail);
int32_t udp_xsum(uint8_t* data, int start_bit, int32_t bits, int32_t* result, int reserved, int width, void* fixup,
                 size_t avail);
int32_t dod_xsum(uint8_t* data, int start_bit, int32_t bits, int32_t* result, int reserved, int width, void* fixup,
                 size_t avail);
int32_t fletch_xsum(uint8_t* data, int start_bit, int32_t bits, int32_t* result, int reserved, int width,
                    void* fixup, size_t avail);
int32_t ospf_xsum(uint8_t* data, int start_bit, int32_t bits, int32_t* result, int reserved, int width, void* fixup,
                  size_t avail);
int32_t ospf_lsa_xsum(uint8_t* data, int start_bit, int32_t bits, int32_t* result, int reserved, int width,
                      void* fixup, size_t avail);
int32_t icmp_xsum(uint8_t* data, int start_bit, int32_t bits, int32_t* result, int reserved, int width, void* fixup,
                  size_t avail);
int32_t icmpv6_xsum(uint8_t* data, int start_bit, int32_t bits, int32_t* result, int reserved, int width,
                    void* fixup, size_t avail);

// Calls `name` the way the `checksum` command does: start bit 0, bit count
// 8 x size, width 32, no fix-up, avail = size. `bytes` may be changed
// ("ospf_lsa" writes its check octets). False when the name is unknown.
bool run_checksum(const char* name, std::vector<uint8_t>& bytes, int32_t* result);

}  // namespace zm
