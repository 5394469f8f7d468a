// What the SNMP client asks of the MIB database: the syntax letter of an
// object given by its dotted OID, looked up in the current image with the
// trailing components cut off one by one until a match.
#pragma once
#include <string>

namespace zm {

// The syntax letter ("I", "S", "D", "A", "P", "C", "G", "T", "O", "N", ...)
// of the object, or 0 when no database is current or the object is unknown.
char mib_syntax_letter(const std::string& dotted_oid);

}  // namespace zm
