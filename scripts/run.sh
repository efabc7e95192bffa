#!/usr/bin/env bash
# Fetches what is needed, builds build/rackhost and runs it with the arguments given.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/tools.sh
deps=$(bash scripts/deps.sh)
cmake -S . -B build -G Ninja -DRACKHOST_DEPS="$deps" -DRACKHOST_TESTS=OFF >/dev/null
cmake --build build --target rackhost >/dev/null
exec build/rackhost "$@"
