# Renderers: a replayed capture as a summary list, one packet as a full decode and a hex dump.
section "Renderers: a replayed capture as a summary list, one packet decoded and dumped"
if {[catch {pdf node ENET_HDR}]} {
    pdlc all.pdlc
}
set rcap [file join [expr {[info exists env(TMPDIR)] ? $env(TMPDIR) : "/tmp"}] render-demo-[pid].cap]
netif rw pcap ENET_HDR -file $rcap -save
rw send {ENET_HDR dst=00:00:0c:01:02:03, IP_HDR ip_src_address=10.0.0.1 ip_dest_address=10.0.0.2, UDP_HDR udp_src_port=1024 udp_dest_port=53, DATA data=0x717565727921}
rw send {ARP_HDR arp_op=1 arp_src_ip=10.0.0.1 arp_dest_ip=10.0.0.2}
rw send {IP_HDR ip_src_address=10.0.0.2 ip_dest_address=10.0.0.1, TCP_HDR tcp_dest_port=80}
rw close
netif rr pcap ENET_HDR -file $rcap
set rhandles {}
rr register -name keep -variable rhandles
rr enable
while {[llength $rhandles] < 3} { update }
rr renderer tap_summary {} {{4 No FRAME} {5 Len LENGTH} {9 Layer network} {11 Source IP_HDR.ip_src_address}
    {11 Dest IP_HDR.ip_dest_address} {6 Proto IP_HDR.ip_proto}} -name summary
puts "  [lindex [summary] 0]"
foreach row [summary {*}$rhandles] { puts "  [lindex $row 0]" }
rr renderer tap_fulldecode -name decode -valwidth 18
puts [lindex [decode 1] 1 0]
rr renderer tap_fulldata -name dump
puts [string trim [lindex [dump 1] 0] \n]
rr close
file delete $rcap
