// host.exit ends the page at once, from inside nested calls and even when
// the script tries to catch it.
host.echo("before");
function leave() {
    host.exit(7);
    host.echo("after exit in the function");
}
try {
    leave();
} catch (e) {
    host.echo("after exit in catch");
}
host.echo("after exit at the top");
