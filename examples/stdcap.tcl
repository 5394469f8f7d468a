# Standard pcap files: written as packets are sent, replayed, and read by an outside analyser.
section "Standard capture files"
# A pcap file any analyser opens, written as the packets are sent, then replayed.
if {[catch {pdf node ENET_HDR}]} {
    pdlc all.pdlc
}
set stdcap [file join [expr {[info exists env(TMPDIR)] ? $env(TMPDIR) : "/tmp"}] demo-[pid].pcap]
netif w libpcap ENET_HDR -file $stdcap -save
w send "IP_HDR ip_src_address=10.0.0.1 ip_dest_address=10.0.0.2, UDP_HDR udp_src_port=1024 udp_dest_port=9, RAWDATA 0x0102"
w send "IPv6_HDR ip6_src_address=0x20010db8000000000000000000000001 ip6_dest_address=0x20010db8000000000000000000000002, TCP_HDR tcp_src_port=40000 tcp_dest_port=80 tcp_flags=SYN"
w send "VLAN_HDR vlan_id=7, ARP_HDR arp_src_ip=10.0.0.1 arp_dest_ip=10.0.0.2"
w close
puts "wrote $stdcap: [mediatype $stdcap]"
netif r libpcap ENET_HDR -file $stdcap
r enable
while {[r receive -wh 1 ""]} {
    puts "  frame $PKT_TBL_buffer_handle: type $PKT_TBL_sym(MAC_HEADER_type)"
}
r close
if {[auto_execok tshark] ne ""} {
    puts "tshark reads it as:"
    puts [exec tshark -n -r $stdcap -o tcp.check_checksum:TRUE 2>/dev/null]
}
file delete $stdcap
