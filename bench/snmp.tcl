# Gets per second and walk rows per second against a local snmpd: snmpget/snmpnxt
# next to the snmp tools doing the same work (snmpget of one object, snmpwalk
# of the same subtree). The engine's own cost per request is measured by
# bench/snmp_engine.cpp.
set here [file dirname [file normalize [info script]]]
set helper [file join [file dirname $here] tests helpers snmpd_agent.py]
set python [lindex [auto_execok python3] 0]
if {$python eq "" || ![file executable /usr/sbin/snmpd]} {
    puts "snmp: skipped (python3 or snmpd missing)"
    exit 0
}
set work [file join [pwd] snmp-bench-[pid]]
file mkdir $work
set env(MIBS) ""
set env(SNMP_PERSISTENT_DIR) [file join $work tools]
set agent [open |[list $python $helper $work 600 2>@stderr] r+]
gets $agent line
set port [lindex $line 1]
set opts [list -host 127.0.0.1 -port $port -community public -timeout 2]
set subtree 1.3.6.1.2.1.1
set rows [llength [snmpnxt udp {*}$opts $subtree]]

# Runs `script` `n` times; prints the rate of `unit` (units per run given).
proc measure {label n per script} {
    uplevel #0 $script
    set t0 [clock microseconds]
    for {set i 0} {$i < $n} {incr i} { uplevel #0 $script }
    set us [expr {double([clock microseconds] - $t0)}]
    puts [format "%-34s %9.1f us per run  %9.0f per second" $label [expr {$us / $n}] \
              [expr {$n * $per * 1e6 / $us}]]
}

try {
    puts "walk of $subtree: $rows rows"
    measure "snmpget udp (gets)" 2000 1 {snmpget udp {*}$opts 1.3.6.1.2.1.1.5.0}
    measure "snmpnxt udp walk (rows)" 100 $rows {snmpnxt udp {*}$opts $subtree}
    set get [auto_execok snmpget]
    set walk [auto_execok snmpwalk]
    if {$get ne "" && $walk ne ""} {
        measure "snmpget tool, one process (gets)" 100 1 \
            {exec -ignorestderr {*}$get -v1 -c public -On 127.0.0.1:$port 1.3.6.1.2.1.1.5.0}
        measure "snmpwalk tool, one process (rows)" 100 $rows \
            {exec -ignorestderr {*}$walk -v1 -c public -On 127.0.0.1:$port $subtree}
    } else {
        puts "snmp tools not installed: no comparison"
    }
} finally {
    close $agent
    file delete -force $work
}
