#!/usr/bin/env bash
# Installs the Debian 12 packages the build (and, with "test", the tests) need, when any is missing. With
# "pipewire": the sound server scripts/with-pipewire.sh runs, and the PulseAudio clients that talk to it.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config dpkg-dev debian-archive-keyring patch)
if [ "${1:-}" = test ]; then
  packages+=(clang libclang-rt-14-dev llvm-14 libgtest-dev libbenchmark-dev
    pulseaudio pulseaudio-utils sox libsox-fmt-mp3 flac lame strace
    # ALSA's extra plug-ins, which most desktops have: what the audio library meets when it falls back to
    # ALSA without a sound server.
    libasound2-plugins)
elif [ "${1:-}" = pipewire ]; then
  packages=(pipewire pipewire-pulse wireplumber dbus-daemon pulseaudio-utils)
fi

absent=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || absent+=("$p")
done
[ ${#absent[@]} -eq 0 ] && exit 0

export DEBIAN_FRONTEND=noninteractive
apt-get update -q >/dev/null || { echo "tools: couldn't reach Debian's package mirror." >&2; exit 1; }
apt-get install -y -q --no-install-recommends "${absent[@]}" >/dev/null ||
  { echo "tools: couldn't install ${absent[*]}." >&2; exit 1; }
