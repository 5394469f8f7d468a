# pkt.tcl -- keep a received packet, change a field by its path, and replay it.
# Run with: build/bin/zemkosh examples/pkt.tcl (from the top of the source tree)

if {[info commands section] eq ""} {
    proc section {title} {
        puts "\n== $title"
    }
}
if {[catch {pdf node ENET_HDR}]} {
    pdlc all.pdlc
}

set tmp [expr {[info exists env(TMPDIR)] ? $env(TMPDIR) : "/tmp"}]
set capture [file join $tmp pkt-demo-[pid].cap]
set replayed [file join $tmp pkt-replay-[pid].cap]

section "Saving a received packet and changing its TTL by path"
netif out pcap ENET_HDR -file $capture -save
out send "IP_HDR ip_src_address=10.0.0.1 ip_dest_address=10.0.0.2 ip_ttl=64, UDP_HDR udp_src_port=1024 udp_dest_port=53, RAWDATA 0x0102"
out close
netif in pcap ENET_HDR -file $capture
in enable
set handle [in receive -wh 1 "UDP_HDR udp_dest_port=53"]
set saved [pkt_save in $handle]
in close
puts "saved packet $saved: [pkt_val get *.ip_ttl $saved]"
pkt_set ENET_HDR.IP_HDR.ip_ttl 7 $saved
puts "after pkt_set: [pkt_val get *.ip_ttl $saved]"
puts "send string: [pkt_getsendstring $saved -nocalc -nodefault]"

section "Replaying the saved packet twice, 200 ms apart"
netif again pcap ENET_HDR -file $replayed -save
set t0 [clock milliseconds]
again pktsend [list $saved 200 $saved]
puts "pktsend took about [expr {([clock milliseconds] - $t0) / 100 * 100}] ms;\
      [dict get [again info] wpktcount] packets written"
again close
pkt_delete $saved
file delete $capture $replayed
