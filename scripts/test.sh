#!/usr/bin/env bash
# Installs what is missing, builds Cuelark and runs every test:
#  1. the whole suite (ctest),
#  2. the bus suites again under AddressSanitizer and UBSan,
#  3. the fuzz targets for a bounded time each, from their seed corpora.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

echo "== build and run the test suite"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

if [ -x scripts/test-sanitized.sh ]; then
  echo "== sanitizer run"
  scripts/test-sanitized.sh
fi
if [ -x scripts/fuzz.sh ]; then
  echo "== fuzz run"
  scripts/fuzz.sh
fi
