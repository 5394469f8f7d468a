# demo.tcl -- a guided tour of zemko. Run with: make demo
# (or build/bin/zemkosh examples/demo.tcl from the top of the source tree)

proc section {title} {
    puts "\n== $title"
}

section "The extension"
puts "zemko_version: [zemko_version]"
puts "script library: $zemko_library"
puts "protocol library path: $pdl_path"

section "Log levels"
puts "LOG_LEVEL is $LOG_LEVEL; reports at Info and above reach stderr"
set ZM_LOG_TSTAMP 0
set LOG_ENABLED 1
Log clear
putslog Info demo examples "a message from a script"
putslog Trace demo examples "a trace line: kept by Log, not printed at LOG_MED"
set LOG_LEVEL high
putslog Info demo examples "not printed at LOG_HIGH"
set LOG_LEVEL med
set LOG_ENABLED 0
puts "Log kept [llength [Log results]] lines:"
foreach line [Log results] {
    puts "    $line"
}

section "A blocking wait released by a timer"
set t0 [clock milliseconds]
after 200 {zemko_unblock 42}
set value [zemko_block]
puts "zemko_block returned $value after [expr {[clock milliseconds] - $t0}] ms"

# Sections contributed by each subsystem, when present.
foreach {part title} {
    pdl     "Protocol descriptions"
    decode  "Decoding"
    capture "Capture replay"
    send    "Building and sending packets"
    utils   "Script utilities"
} {
    set file [file join [file dirname [info script]] $part.tcl]
    if {[file exists $file]} {
        puts "\n######## $title"
        source $file
    }
}
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

puts "\nDemo complete."
