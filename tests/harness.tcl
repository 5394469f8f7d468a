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
