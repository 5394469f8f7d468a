# SNMP: object identifiers, and a local agent queried when one can be started.
section "SNMP: object identifiers and a local agent"
puts "oid2hex 1.3.6.1.2.1.1.5.0 -> [oid2hex 1.3.6.1.2.1.1.5.0]"
puts "hex2oid 0x2B06010201010500 -> [hex2oid 0x2B06010201010500]"
set snmp_helper [file join [file dirname [file dirname [file normalize [info script]]]] tests helpers snmpd_agent.py]
set snmp_python [lindex [auto_execok python3] 0]
if {$snmp_python eq "" || ![file executable /usr/sbin/snmpd] || ![file exists $snmp_helper]} {
    puts "snmpd (or python3) is not installed: no agent to query"
} else {
    set snmp_dir [file join [expr {[info exists env(TMPDIR)] ? $env(TMPDIR) : "/tmp"}] zemko-snmp-demo-[pid]]
    file mkdir $snmp_dir
    set snmp_agent [open |[list $snmp_python $snmp_helper $snmp_dir 120 2>@stderr] r+]
    if {[gets $snmp_agent line] > 0 && [lindex $line 0] eq "port"} {
        set snmp_opts [list -host 127.0.0.1 -port [lindex $line 1] -timeout 2]
        puts "snmpd listens on 127.0.0.1:[lindex $line 1]"
        set name [snmpget udp {*}$snmp_opts -community public 1.3.6.1.2.1.1.5.0]
        puts "sysName.0 = $name ([binary format H* [string range $name 2 end]])"
        set rows [snmpnxt udp {*}$snmp_opts -community public 1.3.6.1.2.1.1.9.1.2]
        puts "walk of sysORID: [llength $rows] rows, first [lindex $rows 0 0]"
        binary scan "Demo bench" H* hex
        snmpset udp {*}$snmp_opts -community private 1.3.6.1.2.1.1.6.0 OctetString $hex
        set loc [snmpget udp {*}$snmp_opts -community public 1.3.6.1.2.1.1.6.0]
        puts "sysLocation.0 set and read back: [binary format H* [string range $loc 2 end]]"
        set code [catch {snmpget udp {*}$snmp_opts -community public 1.3.6.1.2.1.1.99.0}]
        puts "a missing object gives completion code $code (noSuchName)"
    } else {
        puts "snmpd did not start: no agent to query"
    }
    catch {close $snmp_agent}
    file delete -force $snmp_dir
}
