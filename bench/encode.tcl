# Packets built per second through send on a -save capture interface: Ethernet/IPv4/UDP, 64-byte payload.
# Two cases: the ports vary with every packet (a new filter text each time), and one filter text repeated.
set n 100000
set file [file join [pwd] encode-bench-[pid].cap]
pdlc all.pdlc
set payload [string repeat 55 64]

proc varying {count} {
    global payload
    for {set i 0} {$i < $count} {incr i} {
        w send "ENET_HDR dst=00:11:22:33:44:55 src=00:66:77:88:99:aa, IP_HDR ip_src_address=10.0.0.1 ip_dest_address=10.0.0.2, UDP_HDR udp_src_port=[expr {1024 + ($i & 0x3fff)}] udp_dest_port=2000, RAWDATA 0x$payload"
    }
}

proc repeated {count} {
    global payload
    set text "ENET_HDR dst=00:11:22:33:44:55 src=00:66:77:88:99:aa, IP_HDR ip_src_address=10.0.0.1 ip_dest_address=10.0.0.2, UDP_HDR udp_src_port=1024 udp_dest_port=2000, RAWDATA 0x$payload"
    for {set i 0} {$i < $count} {incr i} {
        w send $text
    }
}

# Each case writes a capture of its own (the capture keeps every packet until it is closed).
foreach {case label} {varying "varying ports" repeated "one repeated filter text"} {
    netif w pcap ENET_HDR -file $file -save
    $case 1000  ;# warm-up
    set t0 [clock microseconds]
    $case $n
    set us [expr {[clock microseconds] - $t0}]
    puts [format "send on a -save capture, %s: %d packets in %.3f s = %.1f thousand packets/s" \
              $label $n [expr {$us / 1e6}] [expr {$n * 1e3 / $us}]]
    w close
    file delete $file
}
