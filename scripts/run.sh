#!/usr/bin/env bash
# Installs what is missing, builds Cuelark and starts it from build/bin.
#   scripts/run.sh             build and start
#   scripts/run.sh --loopback  before starting, write [ip] ip=127.0.0.1 into a
#                              missing Database/System.ini, so that the program
#                              only ever sends to this machine
set -euo pipefail
cd "$(dirname "$0")/.."

loopback=0
for arg in "$@"; do
  case "$arg" in
    --loopback) loopback=1 ;;
    *) echo "unknown option: $arg (see README.md)" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCUELARK_TESTS=OFF -DCUELARK_BENCH=OFF >/dev/null
cmake --build build --target cuelark cuelark_program_folder

ini=build/bin/Database/System.ini
if [ "$loopback" = 1 ] && [ ! -f "$ini" ]; then
  printf '[ip]\r\nip=127.0.0.1\r\n' > "$ini"
  echo "Wrote $ini: the program sends to loopback only."
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display is set: starting Cuelark under xvfb-run (a virtual screen)."
  exec xvfb-run -a -s "-screen 0 1280x800x24" build/bin/cuelark
fi
exec build/bin/cuelark
