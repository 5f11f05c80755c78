// Checks shared by the control's pages, loaded with <script src>: each failed
// check prints its name, and finish() ends the page with status 9 after any.
var failures = 0, E_FAIL = -2147467259, E_INVALIDARG = -2147024809;
function eq(actual, expected, what) {
  if (actual === expected) return;
  host.echo("FAIL " + what + ": got [" + actual + "] (" + typeof actual + ") expected [" + expected + "]");
  failures++;
}
// The number a call throws, or "no error".
function thrown(call) {
  try {
    call();
  } catch (e) {
    return e.number;
  }
  return "no error";
}
// Waits, dispatching messages, until `list` has `count` entries (at most 5 s).
function waitFor(list, count) {
  for (var i = 0; i < 250 && list.length < count; i++) host.sleep(20);
}
function finish() {
  if (failures) host.exit(9);
  host.echo("done");
}
