// The MAC vendor table: organisation names by the first three bytes of an Ethernet address.
//
// The table is read on first use from "mac_vendors.txt" in the script
// library directory (zemko_library), one "XXXXXX<TAB>vendor" line per
// registration, and kept sorted for binary search. A missing or unreadable
// file gives an empty table and one Warning.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct Tcl_Interp;

namespace zm {

// The vendor text (at most 40 characters) of a 24-bit identifier, or an
// empty view. Identifier 0 never matches.
std::string_view mac_vendor(Tcl_Interp* interp, uint32_t oui);

// Loads the table from `path` in place of the default file (tests, tools);
// false when the file cannot be read.
bool load_mac_vendors(const std::string& path);

}  // namespace zm
