# State machines: packet events per second through a running machine on a replayed capture, and timer overshoot.
#
# Packet events: a fixed-slot capture of Ethernet/IPv4/UDP frames to port 53
# (generated once into $ZEMKO_BENCH_DATA or /tmp) is replayed through an
# interface running a one-state machine whose inpdu filter matches every
# frame; each match exports PKT_TBL and runs a one-command action.
# Timers: a machine restarts a timer from its own timeout action and records
# how late each expiry came, for 10 ms and 100 ms periods.
# Options: -frames N (default 200000), -firings N (default 300 at 10 ms, a
# third of that at 100 ms).

set frames 200000
set firings 300
foreach {key value} $argv {
    switch -- $key {
        -frames { set frames $value }
        -firings { set firings $value }
    }
}

source [file join [file dirname [file normalize [info script]]] support capture_files.tcl]

pdlc all.pdlc
set path [bench_data_path zemko-fsm-$frames.cap]
if {![file exists $path]} {
    write_capture $path [fixed_slot_header $frames] [lrepeat 1000 [fixed_slot_record [udp_frame 1000 53]]] $frames
}

# ---- packet events ----------------------------------------------------------
# Run twice: with the PKT_TBL export every packet event makes, and with the
# export turned off (ONLY_NEW_PKT), which shows the machine's own cost.
set counting {
counting {
    listening {
        inpdu "UDP_HDR udp_dest_port=53" {#{
            incr ::events
#}}
    }
}
}
foreach {label only_new} {"with PKT_TBL export" 0 "export off (ONLY_NEW_PKT)" 1} {
    set ONLY_NEW_PKT $only_new
    set events 0
    netif replay pcap ENET_HDR -file $path
    set fsm [replay startfsm counting bench]
    set t0 [clock microseconds]
    replay enable
    while {[dict get [replay info] rpktcount] < $frames || [dict get [replay info] rqueue] > 0} {
        after 20 {set ::tick 1}
        vwait ::tick
    }
    update
    set elapsed [expr {([clock microseconds] - $t0) / 1e6}]
    puts [format "packet events, %s: %d of %d frames in %.2f s: %.0f events/s" $label $events $frames \
              $elapsed [expr {$events / $elapsed}]]
    $fsm stop
    replay close
}
set ONLY_NEW_PKT 0

# ---- timer overshoot ----------------------------------------------------------
netif idle udp ZEMKO_UDP_HDR -device lo
set ticking {
ticking {
    running {
        timeout tick { fired }
    }
}
}
proc timer_obj {method} {
    set now [clock microseconds]
    lappend ::late [expr {($now - $::armed) / 1000.0 - $::period_ms}]
    if {[llength $::late] >= $::wanted} {
        set ::timers_done 1
        return
    }
    set ::armed [clock microseconds]
    $::tfsm timer tick [expr {$::period_ms / 1000.0}]
}
proc percentile {values p} {
    set sorted [lsort -real $values]
    set i [expr {min([llength $sorted] - 1, int(ceil($p * [llength $sorted])) - 1)}]
    lindex $sorted [expr {max($i, 0)}]
}
foreach {period_ms wanted} [list 10 $firings 100 [expr {max($firings / 3, 10)}]] {
    set late {}
    set tfsm [idle startfsm ticking timer_obj]
    set armed [clock microseconds]
    $tfsm timer tick [expr {$period_ms / 1000.0}]
    vwait ::timers_done
    $tfsm stop
    puts [format "timer %3d ms: %d firings, overshoot median %.2f ms, 99th percentile %.2f ms" $period_ms \
              [llength $late] [percentile $late 0.5] [percentile $late 0.99]]
}
idle close
