# udp interfaces on loopback against plain C loops run in the same session: receiving a flood, and sending.
#
# Receive: bench_udp_flood floods an interface whose handler counts through
# -internal null_internal or a -variable; the reference is a plain recvfrom
# loop fed by the same flooder. Rates are datagrams handled per second of
# the flood; what the socket dropped is reported next to them.
# Send: a Tcl loop of `send -rawdata` and of `send` with one repeated filter
# text, against a plain sendto loop; each sends to a socket nobody reads.
# UDP_BENCH_N sets the datagrams per case (default 200000).
set n [expr {[info exists env(UDP_BENCH_N)] ? $env(UDP_BENCH_N) : 200000}]
set flood [file join [file dirname [info nameofexecutable]] bench_udp_flood]
if {![file executable $flood]} {
    puts "udp: skipped ($flood not built; configure with -DZEMKO_BENCH=ON)"
    return
}
pdlc all.pdlc
# The drops are in the table; their Info lines would drown it.
set LOG_LEVEL High

proc rate {count seconds} { expr {$seconds > 0 ? $count / $seconds : 0} }

# Runs until the flooder has finished and the interface has read nothing for 200 ms.
proc flood_into {ifname} {
    set port [dict get [$ifname info] if_local_port]
    set chan [open |[list $::flood flood $port $::n] r]
    fconfigure $chan -blocking 0
    fileevent $chan readable {set ::flooded 1}
    set out ""
    while {![eof $chan]} {
        vwait ::flooded
        append out [read $chan]
    }
    close $chan
    set last -1
    while {[set now [dict get [$ifname info] rpktcount]] != $last} {
        set last $now
        after 200 {set ::tick 1}
        vwait ::tick
    }
    lindex $out 1
}

proc receive_case {how} {
    netif u2 udp ZEMKO_UDP_HDR -device lo
    set ::handles {}
    if {$how eq "internal"} {
        u2 register -internal null_internal
    } else {
        u2 register -variable ::handles
    }
    u2 enable
    set seconds [flood_into u2]
    set info [u2 info]
    u2 close
    # What -internal handled is what was read (nothing read is dropped from
    # the read queue); a -variable counts its handles.
    set handled [expr {$how eq "internal" ? [dict get $info rpktcount] : [llength $::handles]}]
    set ::handles {}
    list $handled [dict get $info rdropcount] $seconds
}

puts [format "%-44s %10s %10s %10s %12s" "receive ($n sent)" handled dropped seconds "handled/s"]
lassign [exec $flood recv $n] sent plain_got plain_t
set plain [rate $plain_got $plain_t]
puts [format "%-44s %10d %10d %10.3f %12.0f" "plain recvfrom loop" $plain_got [expr {$sent - $plain_got}] $plain_t $plain]
foreach how {internal variable} {
    lassign [receive_case $how] got dropped t
    set r [rate $got $t]
    puts [format "%-44s %10d %10d %10.3f %12.0f  %.0f%% of plain" "interface, -$how handler" $got $dropped $t $r \
              [expr {100.0 * $r / $plain}]]
}

# Send: to a socket of u2, which is never enabled (its buffer overflows; the sender does not care).
netif u1 udp ZEMKO_UDP_HDR -device lo
netif u2 udp ZEMKO_UDP_HDR -device lo
set port [dict get [u2 info] if_local_port]
set payload [string repeat 55 64]
set ::raw [format %08x%08x%04x%04x 0 0x7f000001 0 $port]$payload
set ::text "ZEMKO_UDP_HDR dest_address=127.0.0.1 dest_port=$port, RAWDATA 0x$payload"

# Each loop is its own procedure, so its body is compiled once like a script's would be.
proc raw_loop {count} {
    for {set i 0} {$i < $count} {incr i} { u1 send -rawdata $::raw }
}
proc text_loop {count} {
    for {set i 0} {$i < $count} {incr i} { u1 send $::text }
}

puts [format "%-44s %10s %10s %12s" "send ($n each)" dropped seconds "sent/s"]
lassign [exec $flood sendloop $n] sent plain_t
set plain [rate $sent $plain_t]
puts [format "%-44s %10d %10.3f %12.0f" "plain sendto loop" 0 $plain_t $plain]
raw_loop 2000
foreach {label loop} {"interface, send -rawdata" raw_loop "interface, send of one filter text" text_loop} {
    set before [dict get [u1 info] wdropcount]
    set t [expr {[lindex [time {$loop $n}] 0] / 1e6}]
    set r [rate $n $t]
    puts [format "%-44s %10d %10.3f %12.0f  %.0f%% of plain" $label \
              [expr {[dict get [u1 info] wdropcount] - $before}] $t $r [expr {100.0 * $r / $plain}]]
}
u1 close
u2 close
