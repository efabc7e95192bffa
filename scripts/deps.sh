#!/usr/bin/env bash
# Fetches the pinned third-party sources into a cache outside the clone and builds the VST 3 SDK there.
# Prints nothing on success but the cache path; a second run reuses everything it finds.
set -euo pipefail

CACHE=${RACKHOST_DEPS:-$HOME/.cache/rackhost-deps}
MINIAUDIO_DEB=libminiaudio-dev_0.11.22+dfsg-1_all.deb
JSON_DEB=nlohmann-json3-dev_3.11.3-2.1_all.deb
SDK_VERSION=3.7.10.14+~4.13.3
SDK_STEM=vst3sdk_${SDK_VERSION}.orig
SDK_PARTS=(base cmake pluginterfaces public-sdk vstgui4)
# The one change to miniaudio: its PulseAudio backend hands a missing device's empty record to the client
# library, which aborts the process on its 0 channels; patched, such a device fails to open instead.
MINIAUDIO_PATCH=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/miniaudio-missing-device.patch

declare -A SHA256=(
  [$MINIAUDIO_DEB]=c4f3fa5238814def9604dda97a4b688909ad5b33e5e443b617c376ceea0ddc8b
  [$JSON_DEB]=741a6a32f61a14eaf9560ba1814b27da8e78fa3b9bed9e8867ab46316ddf3793
  [$SDK_STEM.tar.gz]=0c9fa7b578f8549d6ce6efeb427e9c7df8ca0e018bea13a523b78bb167663b81
  [$SDK_STEM-base.tar.gz]=b9eb5c1e57ca2ef6b2560dd0e13822dd5a51e437b8f5a6c421b099d621d2bffb
  [$SDK_STEM-cmake.tar.gz]=f4699e910a67e585d7d177b2a48f6aa43706b3f073c8e454615f094484374349
  [$SDK_STEM-pluginterfaces.tar.gz]=fd426c6b26ef93fdfdc8aef7e9b836c1bf43f25b8a1ef4c0642a41fb9250ab8a
  [$SDK_STEM-public-sdk.tar.gz]=ca1f70406b36f0763c799085c67deed5befc69514cc2b9cacb804512e95db335
  [$SDK_STEM-vstgui4.tar.gz]=5a7673c7b22a66086a6749a0c7ff447fcfc4a10d2c2013d58ff1320be4e8456f
)

fail() { echo "deps: $*" >&2; exit 1; }

downloads=$CACHE/downloads
mkdir -p "$downloads" "$CACHE/lists/partial" "$CACHE/cache/archives/partial"

# A private apt configuration for Debian 13, so the system's own sources stay untouched.
apt_private() {
  apt-get -q -o Dir::Etc::sourcelist="$CACHE/sources.list" -o Dir::Etc::sourceparts=- \
    -o Dir::State::Lists="$CACHE/lists" -o Dir::Cache="$CACHE/cache" -o APT::Sandbox::User=root \
    -o Acquire::IndexTargets::deb::Contents-deb::DefaultEnabled=false "$@"
}

missing() {
  local f
  for f in "${!SHA256[@]}"; do [ -f "$downloads/$f" ] || return 0; done
  return 1
}

fetch() {
  local mirror
  mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
  [ -n "$mirror" ] || mirror=$(awk '/^deb / {print $2; exit}' /etc/apt/sources.list 2>/dev/null || true)
  [ -n "$mirror" ] || fail "couldn't find the Debian mirror in the system's apt sources."
  local keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  printf 'deb [signed-by=%s] %s trixie main\ndeb-src [signed-by=%s] %s trixie main\n' \
    "$keyring" "$mirror" "$keyring" "$mirror" >"$CACHE/sources.list"
  apt_private update >/dev/null 2>&1 || fail "couldn't fetch the Debian 13 package lists from $mirror."
  (cd "$downloads" &&
    apt_private download "${MINIAUDIO_DEB%%_*}=0.11.22+dfsg-1" "${JSON_DEB%%_*}=3.11.3-2.1" >/dev/null 2>&1) ||
    fail "couldn't fetch miniaudio 0.11.22 and nlohmann json 3.11.3 from $mirror."
  (cd "$downloads" && apt_private source --download-only --tar-only "vst3sdk=$SDK_VERSION-4" >/dev/null 2>&1) ||
    fail "couldn't fetch the VST 3 SDK $SDK_VERSION sources from $mirror."
}

verify() {
  local f
  for f in "${!SHA256[@]}"; do
    [ -f "$downloads/$f" ] || fail "$f is missing after the download."
    echo "${SHA256[$f]}  $downloads/$f" | sha256sum --quiet -c - >/dev/null 2>&1 ||
      fail "$f doesn't match its pinned checksum; delete $downloads and run again."
  done
}

unpack() {
  local stage=$CACHE/stage
  # The headers are unpacked again whenever the patch changes.
  local patched
  patched=$(sha256sum <"$MINIAUDIO_PATCH" | cut -d' ' -f1)
  if [ "$(cat "$CACHE/include/.done" 2>/dev/null)" != "$patched" ]; then
    rm -rf "$stage" "$CACHE/include" && mkdir -p "$stage" "$CACHE/include"
    dpkg -x "$downloads/$MINIAUDIO_DEB" "$stage"
    dpkg -x "$downloads/$JSON_DEB" "$stage"
    cp "$stage/usr/include/miniaudio.h" "$CACHE/include/"
    cp -r "$stage/usr/include/nlohmann" "$CACHE/include/"
    grep -q 'MA_VERSION_REVISION *22' "$CACHE/include/miniaudio.h" || fail "miniaudio.h isn't version 0.11.22."
    patch -s -d "$CACHE/include" -p1 <"$MINIAUDIO_PATCH" || fail "miniaudio.h didn't take $MINIAUDIO_PATCH."
    grep -q "NLOHMANN_JSON_VERSION_PATCH 3" "$CACHE/include/nlohmann/detail/abi_macros.hpp" || fail "nlohmann json isn't version 3.11.3."
    rm -rf "$stage"
    echo "$patched" >"$CACHE/include/.done"
  fi
  local sdk=$CACHE/vst3sdk
  if [ ! -f "$sdk/.done" ]; then
    rm -rf "$sdk" && mkdir -p "$sdk"
    tar xzf "$downloads/$SDK_STEM.tar.gz" -C "$sdk" --strip-components=1
    local part dir
    for part in "${SDK_PARTS[@]}"; do
      dir=$part
      [ "$part" = public-sdk ] && dir=public.sdk
      mkdir -p "$sdk/$dir"
      tar xzf "$downloads/$SDK_STEM-$part.tar.gz" -C "$sdk/$dir" --strip-components=1
    done
    [ -f "$sdk/public.sdk/source/vst/hosting/module_linux.cpp" ] || fail "the VST 3 SDK unpacked without its hosting sources."
    [ -f "$sdk/pluginterfaces/vst/ivstcomponent.h" ] || fail "the VST 3 SDK unpacked without its interfaces."
    touch "$sdk/.done"
  fi
}

# The SDK's own build: its libraries for our test plug-ins, and its example plug-ins for the tests.
build_sdk() {
  local out=$CACHE/vst3sdk-build
  [ -f "$out/.done" ] && return 0
  rm -rf "$out"
  cmake -S "$CACHE/vst3sdk" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_POSITION_INDEPENDENT_CODE=ON \
    -DSMTG_ENABLE_VSTGUI_SUPPORT=OFF -DSMTG_ENABLE_VST3_HOSTING_EXAMPLES=OFF \
    -DSMTG_RUN_VST_VALIDATOR=OFF -DSMTG_CREATE_PLUGIN_LINK=OFF >"$CACHE/vst3sdk-build.log" 2>&1 &&
    cmake --build "$out" >>"$CACHE/vst3sdk-build.log" 2>&1 ||
    fail "the VST 3 SDK didn't build; see $CACHE/vst3sdk-build.log."
  touch "$out/.done"
}

if missing; then fetch; fi
verify
unpack
build_sdk
echo "$CACHE"
