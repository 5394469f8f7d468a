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
    stdcap  "Standard capture files"
    send    "Building and sending packets"
    render  "Renderers"
    utils   "Script utilities"
    pkt     "Saved packets and field paths"
    fsm     "State machines"
    snmp    "SNMP"
    mib     "MIB database"
    ospf    "OSPF link-state database"
} {
    set file [file join [file dirname [info script]] $part.tcl]
    if {[file exists $file]} {
        puts "\n######## $title"
        source $file
    }
}

puts "\nDemo complete."
