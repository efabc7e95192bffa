#!/usr/bin/env bash
# Live benchmark, run by hand: clicks over a noise bed go into one sink of a private sound server; the host
# plays that sink's monitor to another sink, and both sinks are recorded sample-aligned as one 4-channel
# stream. Prints the input→output latency, the gaps (runs of exact zeros) per minute and, bit-exactly, the
# changes of the delay (blocks dropped or inserted) and the clicks lost, for PulseAudio's own loopback module,
# the host with an empty rack and the host with one pass-through plug-in: idle, with another program playing
# into the same sink, and with 4 cores busy.
#   bash scripts/live-bench.sh [seconds per case, default 60]
# LIVE_BENCH_CASES and LIVE_BENCH_LOADS choose a subset ("loopback empty passthrough", "idle other loaded");
# LIVE_BENCH_HOST runs another build of the host; LIVE_BENCH_RATE sets the devices' rate (default 48000).
# LIVE_BENCH_SERVER=pipewire runs it all on PipeWire with pipewire-pulse instead of PulseAudio, the loopback
# case then being PipeWire's own loopback.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
if [ "${2:-}" != --on-server ]; then
  bash scripts/tools.sh test
  deps=$(bash scripts/deps.sh)
  { cmake -S . -B build -G Ninja -DRACKHOST_DEPS="$deps" -DRACKHOST_TESTS=ON &&
    cmake --build build --target rackhost live_signal passthrough; } >/dev/null ||
    { echo "live-bench: the build failed." >&2; exit 1; }
  case ${LIVE_BENCH_SERVER:-pulseaudio} in
    pulseaudio) exec bash scripts/with-sound-server.sh bash "$0" "$seconds" --on-server ;;
    pipewire) exec bash scripts/with-pipewire.sh bash "$0" "$seconds" --on-server ;;
    *) echo "live-bench: LIVE_BENCH_SERVER is either pulseaudio or pipewire." >&2; exit 1 ;;
  esac
fi

folder=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$folder"
}
trap cleanup EXIT

rate=${LIVE_BENCH_RATE:-48000}
load() { pactl load-module "$@" >/dev/null; }
# Channels 0-1 of the capture sink carry the path's input, 2-3 its output, 4-5 another program's sound.
load module-null-sink sink_name=bench_capture rate="$rate" format=float32le channels=6 \
  channel_map=aux0,aux1,aux2,aux3,aux4,aux5 norewinds=1 sink_properties=device.description=Bench-Capture
load module-remap-sink sink_name=bench_in master=bench_capture rate="$rate" channels=2 master_channel_map=aux0,aux1 \
  channel_map=front-left,front-right remix=no sink_properties=device.description=Bench-In
load module-remap-sink sink_name=bench_out master=bench_capture rate="$rate" channels=2 master_channel_map=aux2,aux3 \
  channel_map=front-left,front-right remix=no sink_properties=device.description=Bench-Out
load module-remap-sink sink_name=bench_other master=bench_capture rate="$rate" channels=2 master_channel_map=aux4,aux5 \
  channel_map=front-left,front-right remix=no sink_properties=device.description=Bench-Other

build/tests/audio/live_signal clicks |
  pacat --playback -d bench_in --raw --format=s16le --rate=48000 --channels=2 --latency-msec=20 &
pids+=($!)
sleep 1

record() {
  timeout "$seconds" parec -d bench_capture.monitor --raw --format=float32le --channels=4 \
    --channel-map=aux0,aux1,aux2,aux3 --rate="$rate" >"$folder/recording" || true
  build/tests/audio/live_signal measure "$folder/recording" "$rate"
}

loopback() {
  local module
  # On PipeWire a latency asks the whole graph for a smaller quantum (64 frames for 5 ms): the anchor
  # would run at a quantum the host never meets.
  local latency=latency_msec=5
  [[ $(pactl info) == *'on PipeWire'* ]] && latency=
  module=$(pactl load-module module-loopback source=bench_in.monitor sink=bench_out $latency)
  sleep 2
  record
  pactl unload-module "$module"
}

host() {
  local slots=$1
  rm -f "$folder/commands"
  mkfifo "$folder/commands"
  "${LIVE_BENCH_HOST:-build/rackhost}" <"$folder/commands" >"$folder/host.log" 2>&1 &
  local pid=$!
  exec 3>"$folder/commands"
  echo '{"cmd":"play","id":1,"input":"Monitor of Bench-In","output":"Bench-Out","gain":0,"gate":-96,'\
'"volume":0,"slots":'"$slots"'}' >&3
  for _ in $(seq 100); do
    grep -q '"id":1' "$folder/host.log" && break
    sleep 0.1
  done
  if ! grep -q '"id":1,"ok":true' "$folder/host.log"; then
    cat "$folder/host.log" >&2
    echo "live-bench: the host didn't play." >&2
    exit 1
  fi
  sleep 2
  record
  echo '{"cmd":"quit"}' >&3
  exec 3>&-
  wait "$pid"
}

passthrough='[{"id":"a","plugin":{"format":"vst3","path":"build/test-modules/passthrough.vst3",'\
'"uid":"50415353544852550000000000000001"}}]'

for state in ${LIVE_BENCH_LOADS:-idle other loaded}; do
  busy=()
  if [ "$state" = loaded ]; then
    for _ in 1 2 3 4; do
      bash -c 'while :; do :; done' &
      busy+=($!)
    done
  elif [ "$state" = other ]; then
    build/tests/audio/live_signal clicks |
      pacat --playback -d bench_other --raw --format=s16le --rate=48000 --channels=2 --latency-msec=20 &
    busy+=($!)
  fi
  # Listed for the clean-up too, so a case that fails doesn't leave them running.
  pids+=("${busy[@]}")
  for case in ${LIVE_BENCH_CASES:-loopback empty passthrough}; do
    printf '%-7s %-12s ' "$state" "$case"
    case $case in
      loopback) loopback ;;
      empty) host '[]' ;;
      passthrough) host "$passthrough" ;;
    esac
  done
  for pid in "${busy[@]}"; do kill "$pid"; done
done
