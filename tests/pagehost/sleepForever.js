// Waits far longer than the test's time limit.
host.sleep(600000);
host.echo("woke");
