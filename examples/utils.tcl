# utils.tcl -- script utilities: addresses, named tables, wide numbers and a TFTP round trip.
# Run with: build/bin/zemkosh examples/utils.tcl (from the top of the source tree)

if {[info commands section] eq ""} {
    proc section {title} {
        puts "\n== $title"
    }
}

section "A MAC address in two forms"
set colon 00:a0:24:11:22:33
set hex [addr_to_bin $colon -1]
puts "$colon is $hex; back again: [bin_to_addr $hex -1]"
puts "same number as 0xa024112233? [eq $hex 0xa024112233]"
puts "bit-swapped (canonical <-> non-canonical): [canonical_swap $colon]"
puts "10.1.2.3 is [addr_to_bin 10.1.2.3]"

section "Numbers wider than Tcl's integers"
set big [string repeat 9 30]
puts "$big > 0xffffffffffffffff? [gt $big 0xffffffffffffffff]"
puts "101 BIN equals 5? [eq 101 BIN 5]"

section "A named table"
create_zemko_table demo_hosts addr port
add_zemko_table_entry demo_hosts agent 127.0.0.1 161
add_zemko_table_entry demo_hosts trapd 127.0.0.1 162
puts "entries: [get_zemko_table_entries demo_hosts]"
puts "ports: [get_zemko_table_col demo_hosts port]"
puts "on 127.0.0.1: [get_all_key_val_entries demo_hosts addr 127.0.0.1]"
delete_zemko_table demo_hosts

section "A file round trip through a local TFTP server"
set python [lindex [auto_execok python3] 0]
set helper [file join [file dirname [file dirname [file normalize [info script]]]] \
                tests helpers tftpd_server.py]
if {$python eq "" || ![file executable /usr/sbin/in.tftpd] || ![file exists $helper]} {
    puts "in.tftpd (Debian tftpd-hpa) is not installed: skipped"
} else {
    set work [file join [pwd] utils-demo-[pid]]
    file mkdir [file join $work root]
    set server [open |[list $python $helper [file join $work root] 120 2>@stderr] r+]
    gets $server line
    set host 127.0.0.1:[lindex $line 1]
    set f [open [file join $work hello.txt] w]
    puts $f "hello from zemko\nsecond line"
    close $f
    puts [wtftp $host PUT [file join $work hello.txt] hello.txt]
    puts [wtftp $host GET hello.txt [file join $work back.txt]]
    set f [open [file join $work back.txt]]
    puts "came back: [string map {\n |} [string trim [read $f]]]"
    close $f
    if {[catch {wtftp -timeout 500 $host GET missing.txt [file join $work missing.txt]} msg]} {
        puts "a missing file: $msg"
    }
    close $server
    file delete -force $work
}
