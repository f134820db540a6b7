# connect-spans.awk: one line per connect request in a daemon log stamped by Qt
# (QT_MESSAGE_PATTERN="%{time process} %{message}", millisecond resolution), in ms:
#   the connect in the daemon, from the request's "client connected" line to its
#   "response =" line;
#   the child programs within it: every system command ("runCommand" .. "command
#   finished"), the tunnel program's start until its interface answers ("start process"
#   .. "tunnel interface") and the UAPI exchange ("uapiCommand" .. "uapiCommand finished");
#   what remains: the daemon's own work (reading and answering the request, parsing,
#   logging, host lookups, rewriting /etc/hosts).
function stamp() { return $1 * 1000 }
/\[MacVpnServiceServer\] client connected/ { accepted = stamp() }
/\[MacVpnServiceServer\] request = / { connect = index($0, "\\\"command\\\":\\\"connect\\\"") > 0
                                       if (connect) { begin = accepted; children = 0 } }
!connect { next }
/\[MacVpnBackend\] runCommand / || /\[MacVpnBackend\] start process / ||
/\[MacVpnBackend\] uapiCommand interface=/ { child = stamp() }
/\[MacVpnBackend\] command finished / || /\[MacVpnBackend\] tunnel interface / ||
/\[MacVpnBackend\] uapiCommand finished / { children += stamp() - child }
/\[MacVpnServiceServer\] response = / { total = stamp() - begin
                                        print total, children, total - children
                                        connect = 0 }
