# Datagrams per second between two udp interfaces on loopback, against a plain sendto/recvfrom pair run alongside.
set n [expr {[info exists env(UDP_BENCH_N)] ? $env(UDP_BENCH_N) : 100000}]
set batch 200
pdlc all.pdlc
netif u1 udp ZEMKO_UDP_HDR -device lo
netif u2 udp ZEMKO_UDP_HDR -device lo
u2 register -internal null_internal
u2 enable
set port [dict get [u2 info] if_local_port]
set payload [string repeat 55 64]
set send [list "ZEMKO_UDP_HDR dest_address=127.0.0.1 dest_port=$port, RAWDATA 0x$payload"]
# The same datagram as raw bytes: the media path without building.
set raw [list -rawdata [format %08x%08x%04x%04x 0 0x7f000001 0 $port]$payload]

proc received {} { dict get [u2 info] rpktcount }

# Sends `count` datagrams in batches, letting u2 read each batch before the
# next, so the receive buffer never overflows. Returns {sent received}.
proc exchange {count how} {
    global batch
    upvar #0 $how send
    set start [received]
    set sent 0
    while {$sent < $count} {
        for {set i 0} {$i < $batch} {incr i} { u1 send {*}$send }
        incr sent $batch
        set deadline [expr {[clock milliseconds] + 1000}]
        while {[received] - $start < $sent && [clock milliseconds] < $deadline} { update }
    }
    list $sent [expr {[received] - $start}]
}

exchange 2000 send  ;# warm-up
foreach {how label} {send "built from a filter" raw "sent with -rawdata"} {
    set t0 [clock microseconds]
    lassign [exchange $n $how] sent got
    set us [expr {[clock microseconds] - $t0}]
    set rate($how) [expr {$got * 1e6 / $us}]
    puts [format "udp interfaces, %s: %d sent, %d received in %.3f s = %.1f thousand datagrams/s" \
              $label $sent $got [expr {$us / 1e6}] [expr {$rate($how) / 1e3}]]
}
u1 close
u2 close

set pair [file join [file dirname [info nameofexecutable]] bench_udp_pair]
if {[file executable $pair]} {
    set out [exec $pair --benchmark_format=json 2>@stderr]
    if {[regexp {"dgrams/s": ([0-9.e+]+)} $out -> plain]} {
        puts [format "plain sendto/recvfrom pair: %.1f thousand datagrams/s; interfaces reach %.0f%% (filter) and %.0f%% (raw) of it" \
                  [expr {$plain / 1e3}] [expr {100.0 * $rate(send) / $plain}] [expr {100.0 * $rate(raw) / $plain}]]
    }
} else {
    puts "plain pair: skipped ($pair not built; configure with -DZEMKO_BENCH=ON)"
}
