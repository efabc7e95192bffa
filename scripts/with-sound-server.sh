#!/usr/bin/env bash
# Runs a command with a private PulseAudio server whose devices the device tests expect, then stops
# the server by its PID, also when the command fails. Exits with the command's status.
set -euo pipefail

if ! command -v pulseaudio >/dev/null || ! command -v pactl >/dev/null; then
  echo "with-sound-server: pulseaudio and pactl aren't installed (scripts/tools.sh test installs them)." >&2
  exit 1
fi

folder=$(mktemp -d)
server=
cleanup() {
  if [ -n "$server" ]; then
    kill -TERM "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  rm -rf "$folder"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The names the tests look for: two outputs (each with its monitor input) and two inputs.
cat >"$folder/ci.pa" <<EOF
load-module module-null-sink sink_name=main_output rate=48000 norewinds=1 sink_properties="device.description='Main Output'"
load-module module-null-sink sink_name=usb_headphones rate=48000 norewinds=1 sink_properties="device.description='Headphones (USB Test)'"
load-module module-null-source source_name=line_in rate=48000 channels=4 max_latency_msec=20 description="Line In 1-4"
load-module module-null-source source_name=usb_microphone rate=48000 channels=1 max_latency_msec=20 description="USB Microphone"
load-module module-native-protocol-unix socket=$folder/native auth-anonymous=1
EOF

HOME=$folder XDG_RUNTIME_DIR=$folder pulseaudio -n -F "$folder/ci.pa" --daemonize=no --use-pid-file=no \
  --exit-idle-time=-1 --disallow-exit --realtime=no --high-priority=no --log-target=stderr \
  >"$folder/server.log" 2>&1 &
server=$!

export PULSE_SERVER=unix:$folder/native
for _ in $(seq 100); do
  pactl info >/dev/null 2>&1 && break
  if ! kill -0 "$server" 2>/dev/null; then
    cat "$folder/server.log" >&2
    echo "with-sound-server: the sound server didn't start." >&2
    exit 1
  fi
  sleep 0.05
done
if ! pactl info >/dev/null 2>&1; then
  echo "with-sound-server: the sound server didn't answer within 5 seconds." >&2
  exit 1
fi

status=0
"$@" || status=$?
exit "$status"
