// The probe reads protocol, host name and port from its container's document;
// host.args[0] is what it must read.
var probe = host.createControl("probe", "PageHostTest.Probe", 200, 100);
host.echo("origin", probe.origin);
if (probe.origin !== host.args[0]) host.exit(9);
