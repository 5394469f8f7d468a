# pdl.tcl -- the protocol library: compile it and look inside with pdf.
# Run with: build/bin/zemkosh examples/pdl.tcl (pdl_path points at library/pdl)

if {![llength [info procs section]]} {
    proc section {title} {
        puts "\n== $title"
    }
}

section "Compiling the protocol library"
if {[llength [pdf list]] == 0} {
    pdlc all.pdlc
}
puts "[llength [pdf list]] nodes from [llength [pdf files]] files"
puts "base nodes (link levels an interface can start from): [pdf bases]"
foreach base [pdf bases] {
    puts "    $base: [pdf nodedisplay $base], carries [pdf children $base]"
}

section "One header, field by field"
puts "IP_HDR fields: [pdf fields IP_HDR]"
puts "IP_HDR children by protocol: [pdf children IP_HDR]"
puts "ip_ttl default [pdf default IP_HDR.ip_ttl], shown as \"[pdf fielddisplay IP_HDR.ip_ttl]\""
puts "values computed on send:[pdf val_exprs UDP_HDR]"
puts "UDP_HDR is carried by: [lsort -unique [pdf parents UDP_HDR]]"
puts "nodes tagged transport: [pdf withtag transport]"
