#!/usr/bin/env bash
# Idle cost of the running program: starts it with nothing playing and
# measures the CPU time it uses over 10 seconds (goal: below 0.5 % of one core).
#
#   bench/idle_cpu.sh [path/to/cuelark]     (default: build/bin/cuelark)
#
# The program runs from a temporary copy of its folder, offscreen, with its
# message boxes written to standard error and answered at once. Its settings
# keep every datagram on loopback (ip=127.0.0.1) and its socket on a free port.
# It is ended with SIGTERM afterwards; nothing is left running.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
program="${1:-$root/build/bin/cuelark}"
seconds=10
goal=0.5

if [ ! -x "$program" ]; then
  echo "no program at $program (build it first, or give its path)" >&2
  exit 2
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/cuelark-idle.XXXXXX")"
pid=""
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The program's folder: the executable with Database/, Language/ and
# FormsDesignPosition/ beside it. The copy's own settings replace any there.
cp -R "$(dirname "$program")"/. "$work/"
rm -f "$work/Database/System.ini" "$work/Database/Show.ini"
port="$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
printf '[ip]\r\nip=127.0.0.1\r\n[Port]\r\nPort=%s\r\n' "$port" >"$work/Database/System.ini"

# True once something has bound the UDP port (the program's socket opens last
# in its start-up, just before its window shows).
port_bound() {
  local hex
  hex="$(printf ':%04X ' "$port")"
  grep -q "$hex" /proc/net/udp
}

QT_QPA_PLATFORM=offscreen CUELARK_MESSAGE_LOG=1 "$work/$(basename "$program")" \
  2>"$work/stderr.log" >/dev/null &
pid=$!

for _ in $(seq 300); do
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "the program ended during start-up:" >&2
    cat "$work/stderr.log" >&2
    exit 1
  fi
  port_bound && break
  sleep 0.1
done
if ! port_bound; then
  echo "the program did not open its socket within 30 s" >&2
  exit 1
fi
if grep -q '^cuelark-message:' "$work/stderr.log"; then
  echo "the program showed a message while starting:" >&2
  grep '^cuelark-message:' "$work/stderr.log" >&2
  exit 1
fi
# Let the window settle before measuring.
sleep 2

# utime + stime (fields 14 and 15, counted after the command name).
cpu_ticks() {
  local rest
  rest="$(sed 's/^.*) //' "/proc/$pid/stat")"
  awk '{print $12 + $13}' <<<"$rest"
}
ticks_per_second="$(getconf CLK_TCK)"
before="$(cpu_ticks)"
start_ns="$(date +%s%N)"
sleep "$seconds"
after="$(cpu_ticks)"
end_ns="$(date +%s%N)"

percent="$(awk -v t="$((after - before))" -v hz="$ticks_per_second" \
  -v ns="$((end_ns - start_ns))" 'BEGIN { printf "%.3f", 100 * (t / hz) / (ns / 1e9) }')"
rss_kb="$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")"
echo "idle CPU: $percent % of one core over ${seconds} s (goal < $goal %); resident memory ${rss_kb} kB"

kill -TERM "$pid"
ended=0
for _ in $(seq 100); do
  if ! kill -0 "$pid" 2>/dev/null; then
    ended=1
    break
  fi
  sleep 0.1
done
status=0
if [ "$ended" = 1 ]; then
  wait "$pid" || status=$?
  pid=""
  echo "ended on SIGTERM with status $status"
else
  echo "the program did not end within 10 s of SIGTERM" >&2
  exit 1
fi

awk -v p="$percent" -v g="$goal" 'BEGIN { exit !(p < g) }' || {
  echo "above the goal" >&2
  exit 1
}
