# The MIB database: IETF modules compiled on demand, names and OIDs both ways.
section "MIB database: a real module compiled on demand"
# tests/data holds a mib/ directory of IETF modules: it serves as an image.
set image [file join [file dirname [file dirname [file normalize [info script]]]] tests data]
set index [file join [expr {[info exists env(TMPDIR)] ? $env(TMPDIR) : "/tmp"}] zemko-demo-mib-[pid].idx]
set f [open $index w]
puts $f "(system) SNMPv2-MIB.mib\n(ifEntry) IF-MIB.mib"
close $f
set key [mib register -image $image -mib_type mib -mib_index_file $index]
foreach name {system.sysDescr system.sysUpTime ifEntry.ifDescr ifEntry.ifInOctets} {
    puts [format "%-20s %-24s syntax %s access %s" $name [mib oid $name $key] \
        [mib syntax $name $key] [mib access $name $key]]
}
foreach oid {1.3.6.1.2.1.1.5 1.3.6.1.2.1.2.2.1.8} {
    puts [format "%-20s %s" $oid [mib name $oid $key]]
}
file delete $index
