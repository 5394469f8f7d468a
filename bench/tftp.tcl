# 1 MiB octet transfers over loopback: wtftp against Debian's tftp-hpa client, same in.tftpd server.
set here [file dirname [file normalize [info script]]]
set helper [file join [file dirname $here] tests helpers tftpd_server.py]
set python [lindex [auto_execok python3] 0]
set client [lindex [auto_execok tftp] 0]
if {$python eq "" || ![file executable /usr/sbin/in.tftpd]} {
    puts "tftp: skipped (python3 or in.tftpd missing)"
    exit 0
}

set work [file join [pwd] tftp-bench-[pid]]
set root [file join $work root]
file mkdir $root
set f [open [file join $root big.bin] wb]
for {set i 0} {$i < 1048576 / 4} {incr i} {
    puts -nonewline $f [binary format I [expr {($i * 2654435761) & 0xffffffff}]]
}
close $f

set server [open |[list $python $helper $root 600 2>@stderr] r+]
gets $server line
set port [lindex $line 1]
set rounds 10

proc measure {label script} {
    global rounds
    uplevel #0 $script  ;# warm-up
    set t0 [clock microseconds]
    for {set i 0} {$i < $rounds} {incr i} {uplevel #0 $script}
    set us [expr {([clock microseconds] - $t0) / double($rounds)}]
    puts [format "%-28s %8.1f ms per MiB  %7.1f MiB/s" $label [expr {$us / 1000}] \
              [expr {1e6 / $us}]]
}

set out [file join $work out.bin]
measure "wtftp GET octet" {wtftp -i 127.0.0.1:$port GET big.bin $out}
measure "wtftp PUT octet" {wtftp -i 127.0.0.1:$port PUT $out up.bin}
if {$client ne ""} {
    measure "tftp-hpa get binary" {exec $client -m binary 127.0.0.1 $port -c get big.bin $out}
    measure "tftp-hpa put binary" {exec $client -m binary 127.0.0.1 $port -c put $out up2.bin}
} else {
    puts "tftp-hpa client not installed: no comparison"
}

close $server
file delete -force $work
