// Host names for the display renderers: the process-wide cache of reverse look-ups and the fields bound to name columns.
//
// A summary renderer binds the IP source and destination address fields to
// its IP_SRC_NAME / IP_DST_NAME columns; while a field is so bound, the full
// decode display shows the host name in place of the address too. Bindings
// of kinds outlive the renderer that made them (the last binding wins).
#pragma once

#include <cstdint>
#include <string>

namespace zm {

struct Field;

// Column kinds that name hosts.
constexpr int kKindDstName = 8;
constexpr int kKindSrcName = 9;

// The host-name kind bound to a field (kKindDstName, kKindSrcName) or 0.
int field_name_kind(const Field* field);
void set_field_name_kind(const Field* field, int kind);

// The host name of an IPv4 address given as a host-order number. Addresses
// ending in .0 or .255 are never looked up. Each address is looked up at most
// once per process (failures included); the answer is cut to 64 characters.
// Null when there is no name.
const std::string* host_name(uint32_t address);

// Turns reverse look-ups off (every address not yet cached then has no name)
// or back on. Tests and benchmarks switch them off so they never wait on a
// name server.
void set_host_lookup(bool on);

}  // namespace zm
