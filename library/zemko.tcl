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
