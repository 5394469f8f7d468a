# send.tcl -- build packets from filter strings, capture and replay them, and exchange UDP datagrams.
# Run with: build/bin/zemkosh examples/send.tcl (from the top of the source tree)

if {[info commands section] eq ""} {
    proc section {title} {
        puts "\n== $title"
    }
}
# The protocol library, unless an earlier section compiled it.
if {[catch {pdf node ENET_HDR}]} {
    pdlc all.pdlc
}

set capture [file join [expr {[info exists env(TMPDIR)] ? $env(TMPDIR) : "/tmp"}] send-demo-[pid].cap]

section "Building packets into a capture file"
netif out pcap ENET_HDR -file $capture -save
# Only the UDP header is named: Ethernet and IPv4 are filled in, with lengths and checksums.
out send "IP_HDR ip_src_address=10.0.0.1 ip_dest_address=10.0.0.2, UDP_HDR udp_src_port=1024 udp_dest_port=53, RAWDATA 0x0102"
out send "IP_HDR ip_dest_address=10.0.0.9, TCP_HDR tcp_dest_port=80 tcp_flags=SYN" -timestamp 5-Dec-97:10:20:30.250
out send "IP_HDR, ICMP_HDR icmp_type=ECHO_REQUEST icmp_id=7 icmp_seq=1, RAWDATA 0x6869"
out send -rawdata [string repeat ff 6][string repeat 00 6]0806[string repeat 00 46]
puts "sent [dict get [out info] wpktcount] packets into $capture"
out close

section "Replaying the capture and reading the decoded fields"
netif in pcap ENET_HDR -file $capture
in enable
while {[in receive -wh 0.2 ""]} {
    set line "$PKT_TBL_time:"
    foreach key {IP_HDR_ip_len IP_HDR_ip_cksum UDP_HDR_udp_len UDP_HDR_udp_cksum TCP_HDR_tcp_cksum
                 ICMP_HDR_icmp_cksum ENET_HDR_type} {
        if {[info exists PKT_TBL_val($key)]} { append line " $key=$PKT_TBL_val($key)" }
    }
    puts $line
}
in close
file delete $capture

section "UDP datagrams between two interfaces on loopback"
netif left udp ZEMKO_UDP_HDR -device lo
netif right udp ZEMKO_UDP_HDR -device lo
right enable
set port [dict get [right info] if_local_port]
puts "right listens on 127.0.0.1:$port"
left send "ZEMKO_UDP_HDR dest_address=127.0.0.1 dest_port=$port, RAWDATA 0x68656c6c6f"
if {[right receive -wh 2 "ZEMKO_UDP_HDR dest_port=$port"]} {
    puts "right got $PKT_TBL_val(DATA_data) from port $PKT_TBL_val(ZEMKO_UDP_HDR_src_port)"
} else {
    puts "nothing arrived"
}
left close
right close
