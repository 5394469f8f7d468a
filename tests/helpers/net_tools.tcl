# Outside tools for the capture, IPv6 and Ethernet tests: scapy to write
# reference frames, tshark to judge what is written here.
namespace eval ::net {}

# A python3 that has scapy (Debian's lives with the system python), or "".
proc ::net::scapy_python {} {
    foreach py [list /usr/bin/python3 {*}[auto_execok python3]] {
        if {[file executable $py] && ![catch {exec $py -c "import scapy.all" 2>@1}]} { return $py }
    }
}
set ::net::python [::net::scapy_python]
testConstraint scapy [expr {$::net::python ne ""}]
testConstraint tshark [expr {[auto_execok tshark] ne "" && [auto_execok editcap] ne ""}]
if {![testConstraint scapy]} { puts stderr "skipping scapy cases: no python3 with scapy (Debian package python3-scapy)" }
if {![testConstraint tshark]} { puts stderr "skipping tshark cases: tshark or editcap missing (Debian packages tshark, wireshark-common)" }

# Runs python code after "from scapy.all import *"; returns its standard output.
proc ::net::scapy {code} {
    exec $::net::python -c "import logging\nlogging.getLogger('scapy').setLevel(logging.ERROR)\nfrom scapy.all import *\n$code" 2>@1
}

# tshark over a file: one list of field values per frame. Extra words go to
# tshark before the field list (preferences, filters).
proc ::net::fields {file fields args} {
    set cmd [list tshark -n -r $file {*}$args -T fields -E separator=/t]
    foreach f $fields { lappend cmd -e $f }
    set rows {}
    foreach line [split [exec {*}$cmd 2>/dev/null] \n] {
        lappend rows [split $line \t]
    }
    return $rows
}

# The bytes of each frame of a file as tshark reads them, in hexadecimal.
proc ::net::raw_frames {file} {
    set frames {}
    foreach {- hex} [regexp -all -inline {"frame_raw":"([0-9a-f]*)"} [exec tshark -n -r $file -T ek -x 2>/dev/null]] {
        lappend frames $hex
    }
    return $frames
}

# tshark with every checksum it knows how to validate switched on.
set ::net::validate {-o ip.check_checksum:TRUE -o udp.check_checksum:TRUE -o tcp.check_checksum:TRUE}
