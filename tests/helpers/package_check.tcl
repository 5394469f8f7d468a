# Run by a stock tclsh with TCLLIBPATH pointing at the staged lib directory:
# proves that package require finds the extension and its libraries.
if {[catch {package require zemko} version]} {
    puts stderr "package require zemko failed: $version"
    exit 1
}
set ok 1
proc check {what got want} {
    global ok
    if {$got ne $want} {
        puts stderr "$what: got \"$got\", want \"$want\""
        set ok 0
    }
}
check version $version 2.03
check zemko_version [zemko_version] "2.03 /tree/zemko/zemko/zemko Tue Nov 19 21:54:41 EST 1996"
check Log [llength [info commands Log]] 1
check zemko.tcl [file exists [file join $zemko_library zemko.tcl]] 1
check pdl_path [file isdirectory $pdl_path] 1
if {$ok} {
    puts "1 passed, 0 failed"
    exit 0
}
puts "0 passed, 1 failed"
exit 1
