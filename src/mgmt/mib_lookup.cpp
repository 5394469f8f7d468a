// Syntax-letter look-up for the SNMP client; no MIB database is built in yet.
#include "mgmt/mib_lookup.h"

namespace zm {

char mib_syntax_letter(const std::string&) { return 0; }

}  // namespace zm
