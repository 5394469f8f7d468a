# Replay throughput of the libpcap class next to the pcap class, on the same frames.
#
# The same Ethernet/IPv4/UDP frames (destination ports cycling through
# 53..152) are written once as a fixed-slot capture and once as a standard
# pcap file (into $ZEMKO_BENCH_DATA or /tmp). Each case replays one file
# through one interface in a child zemkosh:
#   empty   no handler (read, queue, dispatch)
#   decode  one -internal decode_internal handler
# Options: -frames N (default 1000000), -cases {empty decode}.

set frames 1000000
set cases {empty decode}
foreach {key value} $argv {
    switch -- $key {
        -frames { set frames $value }
        -cases { set cases $value }
        -child { set child $value }
    }
}

source [file join [file dirname [file normalize [info script]]] support capture_files.tcl]

# Writes both files: 100 distinct 46-byte frames, repeated.
proc generate {frames} {
    set fixed {}
    set std {}
    for {set i 0} {$i < 100} {incr i} {
        set data [udp_frame 1000 [expr {53 + $i}]]
        set n [string length $data]
        lappend fixed [fixed_slot_record $data]
        lappend std "[binary format iiii 1700000000 $i $n $n]$data"
    }
    write_capture [data_path $frames cap] [fixed_slot_header $frames] $fixed $frames
    write_capture [data_path $frames pcap] [binary format issiiii 0xa1b2c3d4 2 4 0 0 65535 1] $std $frames
}

proc data_path {frames ext} { bench_data_path zemko-replay-std-$frames.$ext }


# One case in this process; prints "frames seconds".
proc run_case {class case path frames} {
    pdlc all.pdlc
    netif r $class ENET_HDR -file $path
    if {$case eq "decode"} { r register -internal decode_internal }
    set t0 [clock microseconds]
    r enable
    wait_done r $frames
    set t [expr {([clock microseconds] - $t0) / 1e6}]
    r close
    return [list $frames $t]
}

if {[info exists child]} {
    lassign $child class case path
    puts [run_case $class $case $path $frames]
    exit 0
}

if {![file exists [data_path $frames pcap]] || ![file exists [data_path $frames cap]]} {
    puts "generating $frames frames into [data_path $frames cap] and [data_path $frames pcap] ..."
    generate $frames
}
puts [format "%-10s %-8s %12s %10s" case class packets/s seconds]
foreach case $cases {
    set rate {}
    foreach {class ext} {pcap cap libpcap pcap} {
        set out [exec [info nameofexecutable] [info script] -frames $frames \
                     -child [list $class $case [data_path $frames $ext]] 2>/dev/null]
        lassign [lindex [split [string trim $out] \n] end] n t
        dict set rate $class [expr {$n / $t}]
        puts [format "%-10s %-8s %12.0f %10.2f" $case $class [dict get $rate $class] $t]
    }
    puts [format "ratio libpcap / pcap (%s): %.3f" $case [expr {[dict get $rate libpcap] / [dict get $rate pcap]}]]
}
