# What the replay drivers share: where generated captures go, the frames they
# hold, writing them, and waiting until a replay is done.

# A generated file's path, in $ZEMKO_BENCH_DATA or /tmp.
proc bench_data_path {name} {
    set dir [expr {[info exists ::env(ZEMKO_BENCH_DATA)] ? $::env(ZEMKO_BENCH_DATA) : "/tmp"}]
    file join $dir $name
}

# A 46-byte Ethernet/IPv4/UDP frame from 10.0.0.1 to 10.0.0.2 carrying "abcd".
proc udp_frame {sport dport} {
    set eth [binary format H12H12S 020000000001 020000000002 0x0800]
    set ip [binary format ccSSSccSII 0x45 0 32 1 0 64 17 0 0x0a000001 0x0a000002]
    return "$eth$ip[binary format SSSS $sport $dport 12 0]abcd"
}

# The 32-byte header of a fixed-slot capture of `frames` 64-byte slots.
proc fixed_slot_header {frames} {
    binary format IIIIIIII 0xFABCDEFF 1 1 43200 16 80 $frames 0
}

# A fixed-slot record: a 16-byte header, then the frame padded to its slot.
proc fixed_slot_record {data} {
    set n [string length $data]
    return "[binary format IIISS 3913000000 0 1 $n $n]$data[string repeat \0 [expr {64 - $n}]]"
}

# Writes `header`, then `frames` records cycling through `records`, through a
# temporary file so that an interrupted run leaves no half-written capture.
proc write_capture {path header records frames} {
    set f [open $path.tmp wb]
    fconfigure $f -buffersize 1048576
    puts -nonewline $f $header
    set chunk [join $records ""]
    set k [llength $records]
    for {set n 0} {$n + $k <= $frames} {incr n $k} { puts -nonewline $f $chunk }
    if {$n < $frames} { puts -nonewline $f [join [lrange $records 0 [expr {$frames - $n - 1}]] ""] }
    close $f
    file rename -force $path.tmp $path
}

# Waits until the interface has read and dispatched every frame.
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
