#!/usr/bin/env bash
# Builds the suites that handle bytes from the network (packet, UDP,
# commands, universal switch and receive thread) with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan/ and runs them.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-asan"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCUELARK_SANITIZE=ON -DCUELARK_BENCH=OFF -DCUELARK_FUZZ=OFF >/dev/null
cmake --build "$build" -j 2 --target packet_test udp_test commands_test universal_switch_test

export ASAN_OPTIONS="abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"
# Suites of these executables only: PacketCrc, PacketFraming, PacketAccept,
# UdpEndpoint, UdpDestination, UdpLocalAddress, UdpSelectLocalAddress,
# CommandsDispatch, CommandsList, UniversalSwitch, ReceiveThread.
ctest --test-dir "$build" --output-on-failure -R '^(Packet|Udp|Commands|UniversalSwitch|ReceiveThread)[A-Za-z]*\.'
