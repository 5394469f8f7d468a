# Saved-packet paths on an Ethernet/IPv4/UDP packet: pkt_val get by full and
# by wildcard path, pkt_set, pkt_getsendstring per second; pktsend of 10,000
# saved packets with no delay to a -save capture (packets/s).
pdlc all.pdlc
set p [pkt_compose -basenode ENET_HDR -filter "ENET_HDR dst=00:11:22:33:44:55 src=00:66:77:88:99:aa, IP_HDR ip_src_address=10.0.0.1 ip_dest_address=10.0.0.2, UDP_HDR udp_src_port=1024 udp_dest_port=2000, RAWDATA 0x[string repeat 55 64]"]

proc rate {label n script} {
    upvar 1 i i
    set i 0
    uplevel 1 $script  ;# warm-up
    set t0 [clock microseconds]
    for {set i 0} {$i < $n} {incr i} { uplevel 1 $script }
    set us [expr {max(1, [clock microseconds] - $t0)}]
    puts [format "%-36s %9.1f thousand/s" $label [expr {$n * 1e3 / $us}]]
}

rate "pkt_val get (full path)" 200000 { pkt_val get ENET_HDR.IP_HDR.ip_ttl $p -value }
rate "pkt_val get (wildcard path)" 200000 { pkt_val get *.udp_dest_port $p -value }
rate "pkt_getsendstring" 50000 { pkt_getsendstring $p }
# Each pkt_set rebuilds the packet and its tree is built again on the next query.
rate "pkt_set (then one pkt_val)" 20000 {
    pkt_set ENET_HDR.IP_HDR.ip_ttl [expr {$i & 0xff}] $p
    pkt_val get ENET_HDR.IP_HDR.ip_ttl $p -value
}

set n 10000
set handles {}
for {set i 0} {$i < $n} {incr i} { lappend handles [pkt_compose -rawdata [pkt_getdatastring $p] -basenode ENET_HDR] }
set file [file join [pwd] pkt-bench-[pid].cap]
netif w pcap ENET_HDR -file $file -save
set t0 [clock microseconds]
w pktsend [list $handles 0]
set us [expr {[clock microseconds] - $t0}]
w close
set size [file size $file]
file delete $file
pkt_delete {*}$handles $p
puts [format "pktsend to a -save capture: %d packets in %.3f s = %.1f thousand packets/s (capture %d bytes)" \
          $n [expr {$us / 1e6}] [expr {$n * 1e3 / $us}] $size]
