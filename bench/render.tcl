# Renderer throughput: frames/s through tap_fulldecode and tap_summary on a mixed-protocol capture,
# and the same frames through an outside analyser's full-detail and one-line text output (when installed).
#
# The capture (generated into $ZEMKO_BENCH_DATA or /tmp) repeats eleven frames
# built with send (UDP with data, ARP, IPv6/UDP, ICMP, ICMPv6, TCP, SNMP, two
# TFTP, two OSPF) up to -frames N (default 100000); a standard pcap copy of it
# feeds the analyser. The capture is replayed once into the interface's saved
# buffers; each renderer then renders every frame (decoding it afresh), a
# thousand handles a call. The analyser's rates include reading its file and
# starting up. Rates are frames per CPU second (the machine is shared).
# Options: -frames N.

set frames 100000
foreach {key value} $argv {
    if {$key eq "-frames"} { set frames $value }
}
pdlc all.pdlc
set env(ZM_HOST_LOOKUP) 0
set dir [expr {[info exists env(ZEMKO_BENCH_DATA)] ? $env(ZEMKO_BENCH_DATA) : "/tmp"}]
set small [file join $dir zemko-render-11.cap]
set cap [file join $dir zemko-render-$frames.cap]
set std [file join $dir zemko-render-$frames.pcap]

set packets {
    {ENET_HDR dst=00:00:0c:01:02:03 src=08:00:20:0a:0b:0c, IP_HDR ip_src_address=10.0.0.1 ip_dest_address=10.0.0.2, UDP_HDR udp_src_port=1024 udp_dest_port=9999, DATA data=0x68656c6c6f20776f726c6421}
    {ARP_HDR arp_op=2 arp_src_ip=10.0.0.1}
    {IPv6_HDR, UDP_HDR udp_dest_port=7}
    {ICMP_HDR}
    {IPv6_HDR, ICMPv6_HDR}
    {TCP_HDR tcp_dest_port=80}
    {UDP_HDR udp_dest_port=161, SNMP_HDR snmp_message=0x302602010004067075626c6963a019020101020100020100300e300c06082b060102010101000500}
    {UDP_HDR udp_dest_port=69, TFTP_HDR tftp_opcode=1, TFTP_REQUEST tftp_request=0x66696c65006f6374657400}
    {UDP_HDR udp_dest_port=69, TFTP_HDR tftp_opcode=5, TFTP_ERROR tftp_error_code=1 tftp_error_msg=0x6e6f7065}
    {OSPF_HDR router_id=1.1.1.1, OSPF_HELLO, OSPF_NEIGHBOR neighbor=2.2.2.2, OSPF_NEIGHBOR neighbor=3.3.3.3}
    {OSPF_HDR, OSPF_LS_UPD lsu_count=1, OSPF_LS_HDR ls_type=1 ls_length=24, OSPF_LSA_BODY lsa_body=0x01020304}
}

proc generate {} {
    global small cap std frames packets
    set LOG_LEVEL_saved $::LOG_LEVEL
    set ::LOG_LEVEL high
    file delete $small
    netif w pcap ENET_HDR -file $small -save
    foreach p $packets { w send $p }
    w close
    set ::LOG_LEVEL $LOG_LEVEL_saved
    set f [open $small rb]
    set data [read $f]
    close $f
    binary scan $data IIIIIII magic version link offset rechdr recsize count
    set records {}
    set plain {}
    for {set i 0} {$i < $count} {incr i} {
        set rec [string range $data [expr {32 + $i * $recsize}] [expr {32 + ($i + 1) * $recsize - 1}]]
        lappend records $rec
        binary scan $rec IIISS secs fraction dir wire len
        set frame [string range $rec $rechdr [expr {$rechdr + $len - 1}]]
        lappend plain [binary format iiii 1700000000 0 $len $len]$frame
    }
    set out [open $cap.tmp wb]
    set pcap [open $std.tmp wb]
    fconfigure $out -buffersize 1048576
    fconfigure $pcap -buffersize 1048576
    puts -nonewline $out [binary format IIIIIIII $magic $version $link $offset $rechdr $recsize $frames 0]
    puts -nonewline $pcap [binary format issiiii 0xa1b2c3d4 2 4 0 0 65535 1]
    for {set n 0} {$n < $frames} {incr n} {
        set k [expr {$n % $count}]
        puts -nonewline $out [lindex $records $k]
        puts -nonewline $pcap [lindex $plain $k]
    }
    close $out
    close $pcap
    file rename -force $cap.tmp $cap
    file rename -force $std.tmp $std
}
if {![file exists $cap] || ![file exists $std]} { generate }

# Replays the capture once, keeping every frame (without its decode) so that
# the renderers can be timed alone on the same frames.
netif r pcap ENET_HDR -file $cap
r configure -savedhw $frames
proc keep {h} { lappend ::handles $h; return keep }
r register -name keep -command keep
set handles {}
set t0 [clock microseconds]
r enable
while {[dict get [r info] rpktcount] < $frames || [dict get [r info] rqueue] > 0} {
    after 5 {set ::tick 1}
    vwait ::tick
}
set treplay [expr {([clock microseconds] - $t0) / 1e6}]
r renderer tap_fulldecode -name fd
r renderer tap_summary {} {{6 No FRAME} {6 Len LENGTH} {10 Layer network} {16 Src IP_HDR.ip_src_address}
    {16 Dst IP_HDR.ip_dest_address} {8 Proto IP_HDR.ip_proto} {8 Port UDP_HDR.udp_dest_port}} -name sum

# CPU seconds used so far by this process (own) or by its waited-for
# children (children), from /proc: the machine is shared, so wall time would
# measure the neighbours too.
proc cpu {whose} {
    set f [open /proc/self/stat r]
    set text [read $f]
    close $f
    set fields [split [string range $text [expr {[string last ")" $text] + 2}] end] " "]
    # utime stime cutime cstime are fields 14..17 of the line (11..14 after the name).
    lassign [lrange $fields 11 14] utime stime cutime cstime
    expr {($whose eq "own" ? $utime + $stime : $cutime + $cstime) / 100.0}
}

# CPU seconds to render every kept frame, 1000 handles a call (each frame decoded afresh).
proc render {renderer} {
    global handles frames
    set t0 [cpu own]
    for {set i 0} {$i < $frames} {incr i 1000} {
        $renderer {*}[lrange $handles $i [expr {$i + 999}]]
    }
    expr {[cpu own] - $t0}
}
proc rate {frames seconds} { expr {$seconds > 0 ? int($frames / $seconds) : 0} }
set tfull [render fd]
set tsum [render sum]
puts [format "frames: %d (11 protocols mixed)" $frames]
puts [format "replay into saved buffers:  %8d frames/s" [rate $frames $treplay]]
puts [format "tap_fulldecode:             %8d frames/s" [rate $frames $tfull]]
puts [format "tap_summary:                %8d frames/s" [rate $frames $tsum]]
r close

set analyser [auto_execok tshark]
if {$analyser eq ""} {
    puts "outside analyser: tshark not installed (apt-get install tshark) - skipped"
} else {
    foreach {label args} {"full detail (-V)" {-V} "one-line summary" {}} {
        set t0 [cpu children]
        exec {*}$analyser -n -r $std {*}$args > /dev/null 2> /dev/null
        set t [expr {[cpu children] - $t0}]
        puts [format "tshark %-18s %8d frames/s" $label [rate $frames $t]]
    }
}
