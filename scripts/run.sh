#!/usr/bin/env bash
# Fetches what is needed, builds build/rackhost and runs it with the arguments given.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/tools.sh
deps=$(bash scripts/deps.sh)
# Quiet while it works: standard output belongs to the program's JSON lines.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake -S . -B build -G Ninja -DRACKHOST_DEPS="$deps" -DRACKHOST_TESTS=OFF &&
  cmake --build build --target rackhost; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "run: build/rackhost didn't build." >&2
  exit 1
fi
rm -f "$log"
trap - EXIT
exec build/rackhost "$@"
