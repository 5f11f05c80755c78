// echo joins its arguments with spaces; host.args is a script array.
host.echo("hello", 1, 2.5, true, null, undefined);
host.echo("args", host.args.length, host.args.join("|"), typeof host.args[2]);
host.echo();
host.echo("done");
