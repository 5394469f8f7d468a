# zemko.tcl -- the script library sourced at start-up.
#
# Log: the object that receives every report while LOG_ENABLED is set.
#   Log addResult module type line   keep one reported line
#   Log results ?type?               the kept lines (of one type), oldest first
#   Log clear                        forget the kept lines

namespace eval ::zemko::log {
    variable lines {}
}

proc Log {method args} {
    variable ::zemko::log::lines
    switch -- $method {
        addResult {
            if {[llength $args] != 3} {
                return -code error "wrong # args: should be \"Log addResult module type line\""
            }
            lappend lines $args
            return
        }
        results {
            if {[llength $args] == 0} {
                return [lmap entry $lines {lindex $entry 2}]
            }
            set type [lindex $args 0]
            set out {}
            foreach entry $lines {
                if {[lindex $entry 1] eq $type} {
                    lappend out [lindex $entry 2]
                }
            }
            return $out
        }
        entries {
            return $lines
        }
        clear {
            set lines {}
            return
        }
        default {
            return -code error "bad method \"$method\": must be addResult, results, entries or clear"
        }
    }
}

# pkt: packet objects built from the PKT_TBL variables of the last exported
# packet (pkt_sendstring relies on it).
#   pkt save                 a new object holding the exported packet; returns its name
#   OBJ getsendstring        the filter string that rebuilds the packet
#   OBJ delete               forget the object
# The string lists every node in decode order (", NODE ", array members
# between "< " and "> "), each field as name=value, and trailing data as
# RAWDATA, as pkt_getsendstring writes it: strings, IPv6 addresses, floats
# and negative numbers in hexadecimal, and a field sized by the packet's
# length that holds at most four bytes as RAWDATA (a number given for it
# would be laid out as four bytes).

namespace eval ::zemko::pkt {
    variable count 0
    variable facts
}

# Facts about a field from the protocol database, kept per node: whether its
# width follows the packet's length, and its display format.
proc ::zemko::pkt::field_facts {node field} {
    variable facts
    if {![info exists facts($node)]} {
        set facts($node) {}
        if {![catch {pdf width_exprs $node} exprs]} {
            foreach line [split $exprs \n] {
                if {[regexp {^(\S+): (.*)$} $line -> name terms]} {
                    set format hex
                    catch {regexp {%(\w+)} [pdf fielddisplay $node.$name] -> format}
                    dict set facts($node) $name [list [expr {"pdu_length" in $terms}] $format]
                }
            }
        }
    }
    if {[dict exists $facts($node) $field]} {
        return [dict get $facts($node) $field]
    }
    return {0 hex}
}

# IPv6 text (with or without an embedded IPv4 address) as "0x" and 32 digits.
proc ::zemko::pkt::ip6_hex {text} {
    if {[regexp {^(.*:)(\d+)\.(\d+)\.(\d+)\.(\d+)$} $text -> head a b c d]} {
        set text ${head}[format %x:%x [expr {$a << 8 | $b}] [expr {$c << 8 | $d}]]
    }
    set halves [split [string map {:: |} $text] |]
    set groups [lmap half $halves { expr {$half eq "" ? {} : [split $half :]} }]
    if {[llength $groups] == 2} {
        lassign $groups left right
        set groups [concat $left [lrepeat [expr {8 - [llength $left] - [llength $right]}] 0] $right]
    } else {
        set groups [lindex $groups 0]
    }
    return 0x[string toupper [join [lmap g $groups { format %04x 0x$g }] ""]]
}

# The filter string of the exported packet.
proc ::zemko::pkt::sendstring {} {
    upvar #0 PKT_TBL_order order PKT_TBL_val val
    set keys [lmap key $order {
        if {[string match MAC_HEADER_* $key]} continue
        set key
    }]
    set out ""
    set nodes {}
    set in_array 0
    set member_nodes {}
    set n [llength $keys]
    for {set i 0} {$i < $n} {incr i} {
        set key [lindex $keys $i]
        if {$key eq "RAWDATA"} {
            append out ", RAWDATA $val(RAWDATA) "
            continue
        }
        if {$val($key) eq "" && ![string match *,* $key]} {
            # A node. Array members carry their index on their fields; a node
            # nested in a member is a child of a node of that member.
            set next [lindex $keys [expr {$i + 1}]]
            set indexed [expr {[string match ${key}_* $next] && [string match *,* $next]}]
            set nested [expr {$in_array && !$indexed && [llength $member_nodes] &&
                              [lsearch -exact [pdf children [lindex $member_nodes 0]] $key] >= 0}]
            if {$out eq ""} {
                append out "$key "
            } elseif {$indexed && !$in_array} {
                append out "< $key "
            } else {
                if {$in_array && !$indexed && !$nested} { append out "> " }
                append out ", $key "
            }
            if {$indexed} {
                set member_nodes [list $key]
            } elseif {$nested} {
                set member_nodes [linsert $member_nodes 0 $key]
            } else {
                set member_nodes {}
            }
            set in_array [expr {$indexed || $nested}]
            set nodes [linsert $nodes 0 $key]
            continue
        }
        set value $val($key)
        if {$value eq "\{\}"} continue
        set bare [lindex [split $key ,] 0]
        foreach node $nodes {
            if {[string match ${node}_* $bare]} break
        }
        set field [string range $bare [string length ${node}_] end]
        lassign [field_facts $node $field] sized format
        if {$format eq "ip6"} {
            set value [ip6_hex $value]
        } elseif {$format eq "str"} {
            set value 0x[string toupper [binary encode hex [encoding convertto iso8859-1 $value]]]
        } elseif {$format eq "flt" && [string is double -strict $value]} {
            binary scan [binary format R $value] Iu bits
            set value [format 0x%x $bits]
        } elseif {[string is integer -strict $value] && $value < 0} {
            set value [format 0x%x [expr {$value & 0xFFFFFFFF}]]
        }
        if {$sized && [regexp {^0x([0-9A-Fa-f]{1,8})$} $value -> digits]} {
            if {[string length $digits] % 2} { set digits 0$digits }
            append out ", RAWDATA [string tolower $digits] "
            continue
        }
        append out "$field=$value "
    }
    if {$in_array} { append out "> " }
    return $out
}

proc pkt {method args} {
    switch -- $method {
        save {
            if {[llength $args] != 0} {
                return -code error "wrong # args: should be \"pkt save\""
            }
            if {![info exists ::PKT_TBL_order]} {
                return -code error "no packet has been exported"
            }
            set name ::zemko::pkt::obj[incr ::zemko::pkt::count]
            set ${name}_sendstring [::zemko::pkt::sendstring]
            interp alias {} $name {} ::zemko::pkt::object $name
            return $name
        }
        default {
            return -code error "bad method \"$method\": must be save"
        }
    }
}

proc ::zemko::pkt::object {name method args} {
    switch -- $method {
        getsendstring {
            return [set ${name}_sendstring]
        }
        delete {
            unset ${name}_sendstring
            interp alias {} $name {}
            return
        }
        default {
            return -code error "bad method \"$method\": must be getsendstring or delete"
        }
    }
}
