# Capture-file writers for the Tcl tests: fixed-slot (pcap media) and Sniffer files built with binary format.
#
# Fixed-slot format (every field a big-endian 32-bit word unless noted):
#   header, 32 bytes: magic 0xFABCDEFF, version 1, link type, time offset
#     (43200), record header size (16), record size (slot + 16), record
#     count, reserved 0.
#   record, `record size` bytes each: seconds (file epoch), fraction
#     (microseconds x 4295), direction (2 TX, 1 otherwise), wire length
#     (16 bits), captured length (16 bits), the captured bytes, zero padding.
#   File seconds = seconds of local civil time since 1900-01-01 00:00, with
#   every fourth year from 1900 counted as a leap year, plus the time offset
#   (see ::capture::file_seconds).
#   Link types: 1 ENET_HDR, 2 TRING_HDR, 3 FDDI_HDR, 6 PPP_HDR, 9 ATM*, 10 FR*.
#
# Sniffer format (little-endian):
#   magic, 17 bytes: "TRSNIFF data    " and 0x1A.
#   record: type (16), body length (16), reserved (16), body.
#   type 1, version (18 bytes): major 4, minor 9, time (h*2048 + m*32 + s/2),
#     date ((year-1980)*512 + month*32 + day), format 4, network type, 1,
#     time unit, 6 reserved bytes.
#   type 4, frame: ticks low (16), ticks high (16), hours (8, signed), days
#     (8, signed), size (16), status (8; 0x80 = TX on network 7), flags (8),
#     true size (16), reserved (16), then the bytes.
#   type 3 ends the file; type 6 is the compression marker (the record type
#     after it, when outside 0..4, marks a compressed file).
#   Network types: 0 TRING, 1 ENET, 7 SYNC, 9 FDDI. Time unit 1 ticks at
#   1,193,180 per second.

namespace eval ::capture {}

# File seconds for a time given as seconds since the epoch (local civil time).
proc ::capture::file_seconds {epoch_seconds} {
    set cycle {0 31 60 91 121 152 182 213 244 274 305 335
               366 397 425 456 486 517 547 578 609 639 670 700
               731 762 790 821 851 882 912 943 974 1004 1035 1065
               1096 1127 1155 1186 1216 1247 1277 1308 1339 1369 1400 1430}
    lassign [clock format $epoch_seconds -format "%Y %N %e %k %M %S"] y m d hh mm ss
    set y [expr {$y - 1900}]
    scan "$hh $mm $ss" "%d %d %d" hh mm ss
    set c [lindex $cycle [expr {($m - 1) + 12 * ($y % 4)}]]
    return [expr {$ss + 60*$mm + 3600*$hh + 86400*$d + 86400*$c + 31557600*($y - $y % 4) - 43200}]
}

# A fixed-slot header. Options: -magic, -version, -link, -offset, -rechdr,
# -slot, -count.
proc ::capture::fixed_slot_header {args} {
    set o [dict merge {-magic 0xFABCDEFF -version 1 -link 1 -offset 43200 -rechdr 16 -slot 64 -count 0} $args]
    dict with o {}
    return [binary format IIIIIIII ${-magic} ${-version} ${-link} ${-offset} ${-rechdr} \
                [expr {${-slot} + ${-rechdr}}] ${-count} 0]
}

# One record of a slot of `slot` bytes. Options: -seconds (epoch seconds,
# default 1700000000), -usec, -dir (1 or 2), -wire (default the data length).
proc ::capture::fixed_slot_record {slot data args} {
    set o [dict merge [list -seconds 1700000000 -usec 0 -dir 1 -wire [string length $data]] $args]
    dict with o {}
    set len [string length $data]
    set rec [binary format IIISS [::capture::file_seconds ${-seconds}] [expr {${-usec} * 4295}] ${-dir} \
                 ${-wire} $len]
    set pad [expr {$slot - $len}]
    if {$pad < 0} { set pad 0 }
    return "$rec$data[string repeat \0 $pad]"
}

# Writes a fixed-slot file holding `frames` (a list of byte strings); the
# record count defaults to the number of frames. Options go to the header;
# -seconds and -usec stamp every frame, one second apart.
proc ::capture::write_fixed_slot {path frames args} {
    set o [dict merge [list -slot 64 -count [llength $frames] -seconds 1700000000 -usec 0] $args]
    set secs [dict get $o -seconds]
    set usec [dict get $o -usec]
    set header [dict remove $o -seconds -usec]
    set f [open $path wb]
    puts -nonewline $f [::capture::fixed_slot_header {*}$header]
    foreach data $frames {
        puts -nonewline $f [::capture::fixed_slot_record [dict get $o -slot] $data -seconds $secs -usec $usec]
        incr secs
    }
    close $f
    return $path
}

# Sniffer records.
proc ::capture::sniffer_record {type body} {
    return "[binary format sss $type [string length $body] 0]$body"
}
proc ::capture::sniffer_version {network unit {year 1995} {month 6} {day 15} {hour 8} {minute 0} {second 0}} {
    set date [expr {($year - 1980) * 512 + $month * 32 + $day}]
    set time [expr {$hour * 2048 + $minute * 32 + $second / 2}]
    return [::capture::sniffer_record 1 \
                [binary format sssscccc@18 4 9 $time $date 4 $network 1 $unit]]
}
proc ::capture::sniffer_frame {ticks hours days data {status 0} {true_size 0}} {
    set body [binary format ssccscxss [expr {$ticks & 0xFFFF}] [expr {($ticks >> 16) & 0xFFFF}] \
                  $hours $days [string length $data] $status $true_size 0]
    return [::capture::sniffer_record 4 "$body$data"]
}
proc ::capture::sniffer_eof {} {
    return [::capture::sniffer_record 3 ""]
}

# Writes a Sniffer file: the magic followed by the given records.
proc ::capture::write_sniffer {path records} {
    set f [open $path wb]
    puts -nonewline $f "TRSNIFF data    \x1a[join $records ""]"
    close $f
    return $path
}
