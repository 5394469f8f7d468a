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

proc data_path {frames ext} {
    set dir [expr {[info exists ::env(ZEMKO_BENCH_DATA)] ? $::env(ZEMKO_BENCH_DATA) : "/tmp"}]
    file join $dir zemko-replay-std-$frames.$ext
}

# Writes both files: 100 distinct 46-byte frames, repeated.
proc generate {frames} {
    set fixed {}
    set std {}
    for {set i 0} {$i < 100} {incr i} {
        set eth [binary format H12H12S 020000000001 020000000002 0x0800]
        set ip [binary format ccSSSccSII 0x45 0 32 1 0 64 17 0 0x0a000001 0x0a000002]
        set data "$eth$ip[binary format SSSS 1000 [expr {53 + $i}] 12 0]abcd"
        set n [string length $data]
        lappend fixed "[binary format IIISS 3913000000 0 1 $n $n]$data[string repeat \0 [expr {64 - $n}]]"
        lappend std "[binary format iiii 1700000000 $i $n $n]$data"
    }
    foreach {ext header records} [list \
            cap [binary format IIIIIIII 0xFABCDEFF 1 1 43200 16 80 $frames 0] $fixed \
            pcap [binary format issiiii 0xa1b2c3d4 2 4 0 0 65535 1] $std] {
        set path [data_path $frames $ext]
        set f [open $path.tmp wb]
        fconfigure $f -buffersize 1048576
        puts -nonewline $f $header
        set chunk [join $records ""]
        for {set n 0} {$n + 100 <= $frames} {incr n 100} { puts -nonewline $f $chunk }
        if {$n < $frames} { puts -nonewline $f [join [lrange $records 0 [expr {$frames - $n - 1}]] ""] }
        close $f
        file rename -force $path.tmp $path
    }
}

proc wait_done {if frames} {
    while 1 {
        after 20 {set ::tick 1}
        vwait ::tick
        set info [$if info]
        if {[dict get $info rpktcount] >= $frames && [dict get $info rqueue] == 0} {
            update
            return
        }
    }
}

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
