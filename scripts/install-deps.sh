#!/usr/bin/env bash
# Installs every Debian package the helper, its tests, benchmarks and fuzzers need.
# Idempotent; must run as root. Both README commands call it.
set -euo pipefail

packages=(
  # toolchain
  g++ cmake ninja-build pkg-config clang libclang-rt-14-dev
  # libraries
  libsodium-dev nlohmann-json3-dev libicu-dev liburiparser-dev libsecret-1-dev
  qt6-base-dev libavahi-client-dev libqrencode-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # services the integration tests start on their own
  dbus dbus-x11 gnome-keyring avahi-daemon avahi-utils procps iproute2
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages (${missing[*]}); run as root" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
