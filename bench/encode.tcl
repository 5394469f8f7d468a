# Packets built per second through send on a -save capture interface: Ethernet/IPv4/UDP, 64-byte payload, varying ports.
set n 100000
set file [file join [pwd] encode-bench-[pid].cap]
pdlc all.pdlc
netif w pcap ENET_HDR -file $file -save
set payload [string repeat 55 64]

proc run {count} {
    global payload
    for {set i 0} {$i < $count} {incr i} {
        w send "ENET_HDR dst=00:11:22:33:44:55 src=00:66:77:88:99:aa, IP_HDR ip_src_address=10.0.0.1 ip_dest_address=10.0.0.2, UDP_HDR udp_src_port=[expr {1024 + ($i & 0x3fff)}] udp_dest_port=2000, RAWDATA 0x$payload"
    }
}

run 1000  ;# warm-up
set t0 [clock microseconds]
run $n
set us [expr {[clock microseconds] - $t0}]
w close
set size [file size $file]
file delete $file
puts [format "send on a -save capture: %d packets in %.3f s = %.1f thousand packets/s (capture %d bytes)" \
          $n [expr {$us / 1e6}] [expr {$n * 1e3 / $us}] $size]
