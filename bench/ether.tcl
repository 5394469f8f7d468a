# Ethernet frames per second across a veth pair: the ether class against a
# plain C AF_PACKET sender and receiver measured in the same run.
#
# The bench makes a network namespace and a veth pair (as root), keeps one
# end here and moves the other into the namespace, where a receiver counts
# the 60-byte frames (type 0x88b5) that a sender puts on this end. Four runs:
# zemko sending to zemko, and C sending to C, each as fast as it can; sent
# and received counts and rates are printed. Skipped where namespaces cannot
# be made. Options: -frames N (default 200000).

set frames 200000
foreach {key value} $argv {
    switch -- $key {
        -frames { set frames $value }
        -child { set child $value }
    }
}

set frame ffffffffffff020000000001[string repeat 88b5 1][string repeat 5a 46]

# Receiver (zemko): counts frames until none has come for half a second
# after the first; prints "count seconds", the time from first to last.
proc receive_frames {device} {
    pdlc all.pdlc
    netif r ether ENET_HDR -device $device
    r register -filter "ENET_HDR type=0x88b5" -command count
    set ::n 0
    set ::first 0
    set ::last 0
    r enable
    puts ready
    set idle 0
    while {$idle < 25 || $::n == 0} {
        set before $::n
        after 20 {set ::tick 1}
        vwait ::tick
        if {$::n == $before} { incr idle } else { set idle 0 }
        if {$::n == 0 && $idle > 1500} break
    }
    r close
    return [list $::n [expr {($::last - $::first) / 1e6}]]
}
proc count {args} {
    set now [clock microseconds]
    if {[incr ::n] == 1} { set ::first $now }
    set ::last $now
    return
}

# Sender (zemko): prints "count seconds".
proc send_frames {device frames} {
    pdlc all.pdlc
    netif s ether ENET_HDR -device $device
    set t0 [clock microseconds]
    for {set i 0} {$i < $frames} {incr i} { s send -rawdata $::frame }
    set t [expr {([clock microseconds] - $t0) / 1e6}]
    set sent [dict get [s info] wpktcount]
    s close
    return [list $sent $t]
}

if {[info exists child]} {
    lassign $child role device
    if {$role eq "recv"} { puts [receive_frames $device] } else { puts [send_frames $device $frames] }
    exit 0
}

set c_source {
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <poll.h>
static double now(void) { struct timeval t; gettimeofday(&t, 0); return t.tv_sec + t.tv_usec / 1e6; }
int main(int argc, char **argv) {
    int s = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
    struct sockaddr_ll a = {0};
    a.sll_family = AF_PACKET; a.sll_protocol = htons(ETH_P_ALL); a.sll_ifindex = if_nametoindex(argv[2]);
    if (s < 0 || bind(s, (struct sockaddr *)&a, sizeof a) < 0) { perror("socket"); return 1; }
    unsigned char f[2048] = {0xff,0xff,0xff,0xff,0xff,0xff,2,0,0,0,0,1,0x88,0xb5};
    long n = 0, want = atol(argv[3]);
    double first = 0, last = 0;
    if (argv[1][0] == 's') {
        first = now();
        for (long i = 0; i < want; i++) if (send(s, f, 60, 0) == 60) n++;
        last = now();
    } else {
        printf("ready\n"); fflush(stdout);
        struct pollfd p = {s, POLLIN, 0};
        while (poll(&p, 1, n ? 500 : 30000) > 0) {
            ssize_t got = recv(s, f, sizeof f, 0);
            if (got >= 14 && f[12] == 0x88 && f[13] == 0xb5) { last = now(); if (!n++) first = last; }
        }
    }
    printf("%ld %.6f\n", n, last - first);
    return 0;
}
}

set ns zmbench[pid]
set near zmb[pid]a
set far zmb[pid]b
proc cleanup {} {
    catch {exec ip link del $::near}
    catch {exec ip netns del $::ns}
}
if {[catch {
    exec ip netns add $ns
    exec ip link add $near type veth peer name $far
    exec ip link set $far netns $ns
    catch {exec sysctl -qw net.ipv6.conf.$near.disable_ipv6=1}
    exec ip netns exec $ns sysctl -qw net.ipv6.conf.$far.disable_ipv6=1
    exec ip link set $near up
    exec ip netns exec $ns ip link set $far up
} err]} {
    cleanup
    puts "skipped: network namespaces and veth pairs cannot be made here ($err)"
    return
}
after 200

set dir [file join [expr {[info exists env(TMPDIR)] ? $env(TMPDIR) : "/tmp"}] zemko-ether-bench-[pid]]
file mkdir $dir
set cprog ""
set f [open $dir/pair.c w]; puts $f $c_source; close $f
if {[auto_execok cc] ne "" && ![catch {exec cc -O2 -o $dir/pair $dir/pair.c}]} { set cprog $dir/pair }

# Runs a receiver in the namespace and a sender here; returns
# {sent send_seconds received receive_seconds}.
proc run_pair {recv_cmd send_cmd} {
    set pipe [open |[list ip netns exec $::ns {*}$recv_cmd 2>@1] r]
    while {[gets $pipe line] >= 0 && $line ne "ready"} {}
    set sent [lindex [split [string trim [exec {*}$send_cmd 2>/dev/null]] \n] end]
    set got [lindex [split [string trim [read $pipe]] \n] end]
    close $pipe
    concat $sent $got
}

set me [info nameofexecutable]
set script [info script]
puts [format "%-18s %10s %12s %10s %12s" pair sent sent/s received received/s]
set runs [list zemko [list [list $me $script -child [list recv $far]] [list $me $script -frames $frames -child [list send $near]]]]
if {$cprog ne ""} {
    lappend runs "plain C" [list [list $cprog recv $far 0] [list $cprog send $near $frames]]
}
foreach {label cmds} $runs {
    lassign [run_pair {*}$cmds] sent ts got tr
    puts [format "%-18s %10d %12.0f %10d %12.0f" $label $sent [expr {$ts > 0 ? $sent / $ts : 0}] $got \
              [expr {$tr > 0 ? $got / $tr : 0}]]
}
if {$cprog eq ""} { puts "(no C compiler: the plain C pair was not measured)" }
file delete -force $dir
cleanup
