#!/usr/bin/env bash
# Fuzzes the host's command path for a bounded time (FUZZ_SECONDS, 60 by default), starting from the
# committed seed corpus. Exits non-zero on a crash, leaving the input in <build-dir>/fuzz-crashes.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:?usage: scripts/fuzz.sh <build-dir>}
seconds=${FUZZ_SECONDS:-60}
target="$build/tests/fuzz/command_fuzz"
if [ ! -x "$target" ]; then
  echo "fuzz: $target isn't built (configure with clang and -DRACKHOST_FUZZ=ON)." >&2
  exit 1
fi

# New inputs go to a scratch folder so the committed corpus stays as it is.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
crashes="$build/fuzz-crashes"
mkdir -p "$crashes"

# Under the private sound server, so "play" lines reach real devices.
if ! bash scripts/with-sound-server.sh "$target" -max_total_time="$seconds" -max_len=4096 -len_control=0 -timeout=20 -rss_limit_mb=4096 \
  -dict=tests/fuzz/command.dict -artifact_prefix="$crashes/" -print_final_stats=1 \
  "$scratch" tests/fuzz/corpus; then
  echo "fuzz: the command path failed on an input; it is in $crashes." >&2
  exit 1
fi
