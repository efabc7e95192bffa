#!/usr/bin/env bash
# Runs a command with a private PipeWire session (PipeWire, WirePlumber and pipewire-pulse on their own
# session bus and runtime folder, no sound card), then stops all of it by PID, also when the command fails or
# a signal ends the wait. Exits with the command's status. The command gets PULSE_SERVER, PIPEWIRE_RUNTIME_DIR
# (for PipeWire's own clients) and PIPEWIRE_PULSE_LOG, the file pipewire-pulse writes its warnings to.
set -euo pipefail
bash "$(dirname "$0")/tools.sh" pipewire

folder=$(mktemp -d)
pids=()
cleanup() {
  # The command first, the bus last, so none of them reports its server gone.
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill -TERM "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf "$folder"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
  local name
  for name in dbus pipewire wireplumber pipewire-pulse; do
    [ -s "$folder/$name.log" ] && { echo "--- $name" >&2; tail -n 20 "$folder/$name.log" >&2; }
  done
  echo "with-pipewire: $1" >&2
  exit 1
}

# Until the given test passes, within 5 seconds, while every daemon started so far still runs.
await() {
  local what=$1
  shift
  for _ in $(seq 100); do
    "$@" >/dev/null 2>&1 && return 0
    local pid
    for pid in "${pids[@]}"; do
      kill -0 "$pid" 2>/dev/null || fail "$what exited while starting."
    done
    sleep 0.05
  done
  fail "$what didn't come up within 5 seconds."
}

# A bus without service folders, so nothing is started on it behind our back.
cat >"$folder/bus.conf" <<EOF
<busconfig>
  <type>session</type>
  <listen>unix:path=$folder/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF

# The daemons' own home keeps WirePlumber's remembered defaults and volumes out of the user's; the command
# keeps the caller's and learns only where the servers are.
daemon=(env -u PIPEWIRE_REMOTE -u PULSE_SERVER -u DISPLAY -u WAYLAND_DISPLAY
  HOME="$folder" XDG_RUNTIME_DIR="$folder" XDG_CONFIG_HOME="$folder/config" XDG_STATE_HOME="$folder/state"
  DBUS_SESSION_BUS_ADDRESS="unix:path=$folder/bus")
unset PIPEWIRE_REMOTE
export PIPEWIRE_RUNTIME_DIR=$folder PULSE_SERVER=unix:$folder/pulse/native
export PIPEWIRE_PULSE_LOG=$folder/pipewire-pulse.log

"${daemon[@]}" dbus-daemon --config-file="$folder/bus.conf" --nofork --nopidfile >"$folder/dbus.log" 2>&1 &
pids+=($!)
await "the session bus" test -S "$folder/bus"

"${daemon[@]}" pipewire >"$folder/pipewire.log" 2>&1 &
pids+=($!)
await "pipewire" test -S "$folder/pipewire-0"

"${daemon[@]}" wireplumber >"$folder/wireplumber.log" 2>&1 &
pids+=($!)
# WirePlumber publishes the "default" metadata once its policy runs; streams aren't linked before that.
await "wireplumber" sh -c 'pw-cli ls Metadata | grep -q "metadata.name = \"default\""'

"${daemon[@]}" pipewire-pulse >"$folder/pipewire-pulse.log" 2>&1 &
pids+=($!)
await "pipewire-pulse" pactl info

# In the background (with the caller's input) so that a signal stops the command along with the session.
"$@" <&0 &
pids+=($!)
status=0
wait "${pids[-1]}" || status=$?
exit "$status"
