// Syntax-letter look-up for the SNMP client, answered by the MIB database.
#include "mgmt/mib_lookup.h"

#include "mgmt/mib.h"

namespace zm {

char mib_syntax_letter(const std::string& dotted_oid) { return mib_database().syntax_letter(dotted_oid); }

}  // namespace zm
