# capture.tcl -- replay a capture file through filtered packet handlers into variables and a command.
# Run with: build/bin/zemkosh examples/capture.tcl (from the top of the source tree)

if {[info commands section] eq ""} {
    proc section {title} {
        puts "\n== $title"
    }
}
if {[catch {pdf node ENET_HDR}]} {
    pdlc all.pdlc
}

# The capture is written here with binary format, in the fixed-slot format
# the pcap media reads: a 32-byte header (magic 0xFABCDEFF, version 1, link
# type 1 = Ethernet, time offset 43200, record header size 16, record size,
# record count, 0), then one record per frame (seconds since 1900 plus the
# offset, microseconds x 4295, direction, wire length, captured length, the
# frame, zero padding to the slot).
proc demo_udp_frame {src dst sport dport payload} {
    set len [expr {8 + [string length $payload]}]
    set eth [binary format H12H12S 020000000001 020000000002 0x0800]
    set ip [binary format ccSSSccSII 0x45 0 [expr {20 + $len}] 1 0 64 17 0 $src $dst]
    return "$eth$ip[binary format SSSS $sport $dport $len 0]$payload"
}
proc demo_capture {path frames} {
    set slot 128
    set f [open $path wb]
    puts -nonewline $f [binary format IIIIIIII 0xFABCDEFF 1 1 43200 16 [expr {$slot + 16}] [llength $frames] 0]
    set secs [expr {1700000000 + 2208988800 + 43200}]
    foreach frame $frames {
        set n [string length $frame]
        puts -nonewline $f [binary format IIISSa$slot $secs 0 1 $n $n $frame]
        incr secs
    }
    close $f
}

set capfile [file join [expr {[info exists env(TMPDIR)] ? $env(TMPDIR) : "/tmp"}] capture-demo-[pid].cap]
set frames {}
foreach {dport payload} {53 query-1 123 ntp 53 query-2 161 snmp 53 query-3} {
    lappend frames [demo_udp_frame 0x0a000001 0x0a000002 1024 $dport $payload]
}
demo_capture $capfile $frames

section "Replaying a capture through filters"
netif replay pcap ENET_HDR -file $capfile
# Every DNS frame's handle lands in a variable; every non-DNS UDP frame runs a command.
replay register -name dns -filter {UDP_HDR udp_dest_port=53} -variable dns_handles
proc other_udp {handle} {
    puts "  command got frame $handle"
    return ""
}
replay register -name others -filterlist {{UDP_HDR udp_dest_port=123} {UDP_HDR udp_dest_port=161}} \
    -command other_udp
replay enable
while {[dict get [replay info] rpktcount] < [llength $frames] || [dict get [replay info] rqueue] > 0} {
    update
}
puts "  DNS frames (kept for later): $dns_handles; newest saved: [replay lastsaved]"
replay close

section "Waiting for one packet and reading its fields"
netif replay pcap ENET_HDR -file $capfile
replay enable
set handle [replay receive -wh 2 {UDP_HDR udp_dest_port=161}]
puts "  receive matched frame $handle at $PKT_TBL_time"
foreach key {IP_HDR_ip_src_address UDP_HDR_udp_dest_port MAC_HEADER_type} {
    puts [format "    %-24s %s" $key $PKT_TBL_sym($key)]
}
replay close
file delete $capfile
