# Common set-up for the tcltest files: sourced first by every tests/*.test.
package require tcltest 2
namespace import -force ::tcltest::*
tcltest::configure -verbose {body error}

# A scratch directory of the test file's own.
if {[info exists ::env(ZEMKO_TEST_DATA)]} {
    set ::zm_scratch $::env(ZEMKO_TEST_DATA)
} else {
    set ::zm_scratch [file join [pwd] scratch-[pid]]
}
file mkdir $::zm_scratch

set ::zm_tests_dir [file dirname [file normalize [info script]]]
set ::zm_source_dir [file dirname $::zm_tests_dir]

# A stock tclsh can load libzemko.so, except in sanitizer builds (whose
# runtime must come first in the process).
testConstraint stockTclsh [expr {[auto_execok tclsh] ne "" && ![info exists ::env(ZEMKO_SANITIZE)]}]

# The shell running the tests (zemkosh), for child processes.
set ::zm_shell [info nameofexecutable]

# Logging goes through Log addResult in tests: the lines are read back with
# [Log results] rather than scraped from stderr.
proc zm_log {script} {
    global LOG_ENABLED ZM_LOG_TSTAMP ZM_LOG_FILEINFO
    set saved [list $LOG_ENABLED $ZM_LOG_TSTAMP $ZM_LOG_FILEINFO]
    Log clear
    set LOG_ENABLED 1
    set ZM_LOG_TSTAMP 0
    set ZM_LOG_FILEINFO 0
    set code [catch {uplevel 1 $script} result]
    lassign $saved LOG_ENABLED ZM_LOG_TSTAMP ZM_LOG_FILEINFO
    return [list $code $result [Log results]]
}

# A path in the scratch directory.
proc scratch_file {name} { file join $::zm_scratch $name }

# Writes `data` to `path` byte for byte, creating its directory.
proc write_file {path data} {
    file mkdir [file dirname $path]
    set f [open $path wb]
    puts -nonewline $f $data
    close $f
}

proc read_file {path} {
    set f [open $path rb]
    try { read $f } finally { close $f }
}

# Runs a script in a fresh shell whose working directory is `dir` (the
# scratch directory by default); returns what it printed after the start-up
# banner, standard output and error together, report lines without time
# stamps or source lines.
proc run_child {script {dir ""}} {
    if {$dir eq ""} { set dir $::zm_scratch }
    set path [file join $::zm_scratch child.tcl]
    write_file $path "set ZM_LOG_TSTAMP 0; set ZM_LOG_FILEINFO 0\ncd [list $dir]\nputs ===\n$script\n"
    catch {exec $::zm_shell $path 2>@1} out
    return [string range $out [expr {[string first ===\n $out] + 4}] end]
}

# An Ethernet frame carrying an IPv4 UDP datagram from port 1000 to `port`.
proc udp_frame {port {payload abcd}} {
    set len [expr {8 + [string length $payload]}]
    set eth [binary format H12H12S 020000000001 020000000002 0x0800]
    set ip [binary format ccSSSccSII 0x45 0 [expr {20 + $len}] 1 0 64 17 0 0x0a000001 0x0a000002]
    set udp [binary format SSSS 1000 $port $len 0]
    return "$eth$ip$udp$payload"
}

# Starts a python3 helper whose first line is "port N"; returns {channel port}.
# The helper stops when its standard input closes.
proc start_helper {args} {
    set chan [open |[list [lindex [auto_execok python3] 0] {*}$args 2>@stderr] r+]
    fconfigure $chan -buffering line
    if {[gets $chan line] < 0 || [lindex $line 0] ne "port"} {
        catch {close $chan}
        error "helper did not start: $args"
    }
    return [list $chan [lindex $line 1]]
}

# Stops a helper; returns the lines it printed after the port, one per element.
proc stop_helper {chan} {
    chan close $chan write
    set log [read $chan]
    close $chan
    return [split [string trim $log] \n]
}

# Ends a test file: exit status 1 when a case failed or none ran.
proc zm_finish {} {
    set failed $::tcltest::numTests(Failed)
    set total $::tcltest::numTests(Total)
    tcltest::cleanupTests 1
    if {$failed > 0 || $total == 0} {
        exit 1
    }
    exit 0
}
