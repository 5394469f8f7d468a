# Replay throughput: a million-frame fixed-slot capture through one interface, packets/s and peak memory per case.
#
# The capture (generated once into $ZEMKO_BENCH_DATA or /tmp) holds Ethernet/
# IPv4/UDP frames whose destination ports cycle through 53..152 and whose
# source ports cycle through 1000..1009, so a filter on destination port 53
# matches one frame in a hundred, one on source port 1000 one frame in ten,
# and a hundred handlers on distinct destination ports match every frame
# once. Each case runs in a child zemkosh so that its peak memory (VmHWM) is
# its own:
#   read     the file read in 1 MiB chunks by a Tcl channel (no interface)
#   reader   the pcap media's read operation alone (bench_capture_read)
#   empty    an interface with no handler (read, queue, dispatch)
#   a        one -internal decode_internal handler
#   b        one handler, filter "UDP_HDR udp_dest_port=53", counting -command
#   d        one handler, filter "UDP_HDR udp_src_port=1000" (1 in 10), counting -command
#   c        100 handlers as in (b) on ports 53..152
# Options: -frames N (default 1000000), -cases {read reader empty a b d c}.

set frames 1000000
set cases {read reader empty a b d c}
foreach {key value} $argv {
    switch -- $key {
        -frames { set frames $value }
        -cases { set cases $value }
        -child { set child $value }
    }
}

source [file join [file dirname [file normalize [info script]]] support capture_files.tcl]

# Writes the capture: 100 frames (destination ports 53..152, source ports
# 1000..1009) repeated in fixed slots.
proc generate {path frames} {
    set records {}
    for {set i 0} {$i < 100} {incr i} {
        lappend records [fixed_slot_record [udp_frame [expr {1000 + $i % 10}] [expr {53 + $i}]]]
    }
    write_capture $path [fixed_slot_header $frames] $records $frames
}

proc peak_kib {} {
    set f [open /proc/self/status]
    set text [read $f]
    close $f
    regexp {VmHWM:\s+(\d+)} $text -> kib
    return $kib
}


# CPU seconds (user + system) of this process so far: on a shared machine the
# wall-clock rate says as much about the other processes as about this one.
proc cpu_seconds {} {
    set f [open /proc/self/stat]
    set fields [split [lindex [split [read $f] )] 1]]
    close $f
    expr {([lindex $fields 12] + [lindex $fields 13]) / 100.0}
}

proc count {h} {
    incr ::matched
    return
}

# One case in this process; prints "frames seconds peak_kib matched".
proc run_case {case path frames} {
    set ::matched 0
    if {$case eq "read"} {
        set t0 [clock microseconds]
        set f [open $path rb]
        fconfigure $f -buffersize 1048576
        while {[string length [read $f 1048576]]} {}
        close $f
        set t [expr {([clock microseconds] - $t0) / 1e6}]
        return [list $frames $t [peak_kib] 0 $t]
    }
    pdlc all.pdlc
    netif r pcap ENET_HDR -file $path
    switch -- $case {
        a { r register -internal decode_internal }
        b { r register -filter {UDP_HDR udp_dest_port=53} -command count }
        d { r register -filter {UDP_HDR udp_src_port=1000} -command count }
        c {
            for {set p 53} {$p < 153} {incr p} {
                r register -filter "UDP_HDR udp_dest_port=$p" -command count
            }
        }
    }
    set c0 [cpu_seconds]
    set t0 [clock microseconds]
    r enable
    wait_done r $frames
    set t [expr {([clock microseconds] - $t0) / 1e6}]
    set cpu [expr {[cpu_seconds] - $c0}]
    set dropped [dict get [r info] rdropcount]
    r close
    if {$dropped} { error "$dropped frames dropped" }
    return [list $frames $t [peak_kib] $::matched $cpu]
}

# The media's reader alone, through bench_capture_read; prints the same line.
proc run_reader {path frames} {
    set exe [file join [file dirname [info nameofexecutable]] bench_capture_read]
    if {![file executable $exe]} { error "$exe not built" }
    set ::env(ZEMKO_BENCH_CAPTURE) $path
    set out [exec $exe --benchmark_format=json 2>@stderr]
    regexp {"real_time": ([-0-9.e+]+)} $out -> ms
    return [list $frames [expr {$ms / 1e3}] 0 0 [expr {$ms / 1e3}]]
}

if {[info exists child]} {
    lassign $child case path
    if {$case eq "reader"} {
        puts [run_reader $path $frames]
    } else {
        puts [run_case $case $path $frames]
    }
    exit 0
}

set path [bench_data_path zemko-replay2-$frames.cap]
if {![file exists $path] || [file size $path] != 32 + 80 * $frames} {
    puts "generating $frames frames into $path ..."
    generate $path $frames
}

set labels {
    read   "plain read (Tcl channel, 1 MiB chunks)"
    reader "the pcap media's reader alone"
    empty  "interface, no handler"
    a      "(a) -internal decode_internal"
    b      "(b) filter udp_dest_port=53, counting -command"
    d      "(d) filter udp_src_port=1000 (1 in 10), -command"
    c      "(c) 100 handlers as (b) on distinct ports"
}
set rates {}
puts [format "%-48s %12s %10s %10s %10s %12s" case packets/s seconds "peak MiB" matched "per CPU s"]
foreach case $cases {
    set out [exec [info nameofexecutable] [info script] -frames $frames -child [list $case $path] 2>/dev/null]
    lassign [lindex [split [string trim $out] \n] end] n t kib matched cpu
    set rate [expr {$n / $t}]
    dict set rates $case $rate
    puts [format "%-48s %12.0f %10.2f %10.1f %10d %12.0f" [dict get $labels $case] $rate $t [expr {$kib / 1024.0}] \
              $matched [expr {$cpu > 0 ? $n / $cpu : 0}]]
}
foreach base {reader empty} {
    if {![dict exists $rates $base]} continue
    foreach case {empty a b d c} {
        if {$case eq $base} continue
        if {![dict exists $rates $case]} continue
        puts [format "ratio %s / %s: %.3f" $case $base [expr {[dict get $rates $case] / [dict get $rates $base]}]]
    }
}
