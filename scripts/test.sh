#!/usr/bin/env bash
# Fetches what is needed, then builds and runs every test: a plain build, an AddressSanitizer +
# UndefinedBehaviorSanitizer build with a bounded fuzz run, and a ThreadSanitizer build of the
# lock-free tests. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/tools.sh test
deps=$(bash scripts/deps.sh)
jobs=$(nproc)
# The sanitizers find llvm-symbolizer here, so their reports name files and lines.
export PATH=/usr/lib/llvm-14/bin:$PATH

configure_and_build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DRACKHOST_DEPS="$deps" -DRACKHOST_TESTS=ON "$@" >/dev/null
  cmake --build "$dir"
}

run_tests() {
  local dir=$1
  shift
  bash scripts/with-sound-server.sh ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@"
}

echo "== plain build"
configure_and_build build
run_tests build

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
configure_and_build build-asan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=Debug -DRACKHOST_SANITIZE=address,undefined -DRACKHOST_FUZZ=ON
run_tests build-asan
if [ -x build-asan/tests/fuzz/command_fuzz ]; then
  echo "== fuzzing the command path"
  bash scripts/fuzz.sh build-asan
fi

echo "== ThreadSanitizer (lock-free code)"
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
configure_and_build build-tsan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=Debug -DRACKHOST_SANITIZE=thread
run_tests build-tsan -L lockfree

echo "== all tests passed"
