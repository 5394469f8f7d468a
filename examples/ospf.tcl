# OSPF link-state database: a router LSA built in words, aged and refreshed,
# and a link-state request answered from the database.
section "OSPF: a router LSA, its ageing, and a link-state request answered"
if {[catch {pdf node ENET_HDR}]} {
    pdlc all.pdlc
}
create_lsdb_table demo0
# The identifier is the LSA's type, link-state ID and advertising router in
# hex, as a link-state request carries them.
set rtr 000000010a0000010a000001
add_ospf_rtr_lsa demo0 $rtr E 10.0.0.1 10.0.0.1 time_cycle B 2 \
    {10.0.0.2 10.0.0.1 2 10} {192.168.7.0 255.255.255.0 3 1} 30
puts "header: [get_ospf_hdr_pdl demo0 $rtr]"
puts "LSA:    [get_ospf_pdl_str demo0 $rtr]"
set ticks 0
while {![incr_ospf_timer demo0 $rtr 10]} { incr ticks }
puts "timer reached its limit after [expr {$ticks + 1}] increments; refresh: [ospf_need_to_rxmit demo0 $rtr]"
puts "refreshed: [get_ospf_hdr_pdl demo0 $rtr]"
# A neighbour's request, as it would arrive: saved, then answered. A request
# for an LSA the database lacks would call "ospf_demo post_badLsReq".
proc ospf_demo {what} { puts "the request asked for an LSA we do not have ($what)" }
set req [pkt_compose -basenode ENET_HDR -direction RX \
    -filter "IP_HDR, OSPF_HDR ospf_type=LS_REQUEST, OSPF_LS_REQ <OSPF_LS_REQ_LINK ls_req_key=0x$rtr>"]
set answer [process_ospf_ls_req_pkt demo0 $req ospf_demo]
puts "request $req answered with [llength $answer] LSA(s): [string range [lindex $answer 0] 0 39]..."
pkt_delete $req
delete_lsdb_table demo0
