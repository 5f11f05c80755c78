#!/usr/bin/env bash
# Runs a command beside a QEMU guest that boots memtest86+ (TCG, no display)
# and serves its screen over RFB on a free loopback display, VNC password
# "secret", its monitor on a loopback TCP port. The command finds them in
#   ZOVA_QEMU_VNC      127.0.0.1:<port>
#   ZOVA_QEMU_MONITOR  <port>
#   ZOVA_QEMU_DUMP     a Unix path for the monitor's screendump
# QEMU ends with the command, or after a few minutes whatever happens: tests
# run side by side and must never leave a guest behind.
set -u
dir=$(mktemp -d /tmp/zova-qemu-XXXXXX)
qemu_pid=
cleanup() {
  [ -n "$qemu_pid" ] && kill "$qemu_pid" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
for attempt in $(seq 1 30); do
  display=$(( 100 + RANDOM % 800 ))
  monitor=$(( 20000 + RANDOM % 20000 ))
  (exec 3<>/dev/tcp/127.0.0.1/$((5900 + display))) 2>/dev/null && continue  # taken
  qemu-system-x86_64 -m 64 -display none -no-reboot -kernel /boot/memtest86+x64.bin \
    -vnc "127.0.0.1:$display,password=on" -monitor "tcp:127.0.0.1:$monitor,server,nowait" \
    -daemonize -pidfile "$dir/qemu.pid" 2>"$dir/qemu.err" || continue
  qemu_pid=$(cat "$dir/qemu.pid")
  break
done
if [ -z "$qemu_pid" ]; then
  echo "withQemu: QEMU did not start: $(cat "$dir/qemu.err")" >&2
  exit 1
fi
# A guard that ends QEMU even if this script is killed.
(sleep "${ZOVA_QEMU_LIMIT:-240}"; kill "$qemu_pid" 2>/dev/null) </dev/null >/dev/null 2>&1 &
disown
python3 - "$monitor" <<'PY'
import socket, sys, time
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
s.sendall(b"change vnc password secret\n")
time.sleep(0.3)
PY
ZOVA_QEMU_VNC="127.0.0.1:$((5900 + display))" ZOVA_QEMU_MONITOR="$monitor" ZOVA_QEMU_DUMP="$dir/screen.ppm" "$@"
