# fsm.tcl -- a ping-like state machine over loopback: requests, replies, a retry timer.
# Run with: build/bin/zemkosh examples/fsm.tcl (pdl_path points at library/pdl)

if {![llength [info procs section]]} {
    proc section {title} {
        puts "\n== $title"
    }
}

section "A ping-like state machine over loopback"
if {[llength [pdf list]] == 0} {
    pdlc all.pdlc
}

# The machine runs on `pinger`; `echoer` answers every request, except the
# first, which it drops so that the retry timer has something to do.
netif pinger udp ZEMKO_UDP_HDR -device lo
netif echoer udp ZEMKO_UDP_HDR -device lo
pinger enable
echoer enable
set ping_port [dict get [pinger info] if_local_port]
set echo_port [dict get [echoer info] if_local_port]

set dropped 0
proc echo_back {handle} {
    if {!$::dropped} {
        set ::dropped 1
        puts "  echoer: dropping the first request"
        return
    }
    echoer send "ZEMKO_UDP_HDR dest_address=127.0.0.1 dest_port=$::ping_port, RAWDATA 0x706f6e67"
}
echoer register -command echo_back -filter "ZEMKO_UDP_HDR dest_port=$echo_port"

# The machine: a variable named like the machine holds its SDL text; it is
# compiled the first time a machine of that name is started.
set pinging {
fsm pinging {
    idle {
        event ping { send_ping %s }
    }
    waiting {
        inpdu "ZEMKO_UDP_HDR src_port=$::echo_port" { got_reply %ph }
        timeout retry { send_ping %s }
    }
    done {
        start {#{
            puts "  machine: done, stopping"
            set ::demo_done 1
#}}
    }
}
}

# The object whose methods the word actions call.
proc pinger_obj {method args} {
    global fsm PKT_TBL_val
    switch -- $method {
        send_ping {
            puts "  machine: sending a ping from state [lindex $args 0]"
            pinger send "ZEMKO_UDP_HDR dest_address=127.0.0.1 dest_port=$::echo_port, RAWDATA 0x70696e67"
            # Entering waiting (or staying there) and (re)starting the retry timer.
            $fsm setstate waiting
            $fsm timer retry 0.2
        }
        got_reply {
            puts "  machine: reply in frame [lindex $args 0], data $PKT_TBL_val(DATA_data)"
            $fsm setstate done
        }
    }
}

set fsm [pinger startfsm pinging pinger_obj]
puts "started $fsm in state [$fsm setstate]"
$fsm event ping
set guard [after 3000 {set ::demo_done timeout}]
vwait ::demo_done
after cancel $guard
puts "final state: [$fsm setstate]"
$fsm stop
pinger close
echoer close
