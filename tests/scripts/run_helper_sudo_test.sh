#!/usr/bin/env bash
# The run command as a desktop user with sudo rights starts it: `sudo bash scripts/run-helper.sh`
# installs as root and hands the build and the helper over to that user, with the user's home,
# runtime folder and display. A throw-away user with password-less sudo runs a copy of the
# script over a stand-in project whose "helper" reports who it runs as; the real build is not
# repeated. Needs root (to make the user) and sudo; exits 77 (skipped) without them.
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
if [ "$(id -u)" -ne 0 ] || ! command -v sudo >/dev/null || ! command -v useradd >/dev/null; then
  echo "skipped: needs root, sudo and useradd" >&2
  exit 77
fi

user="tbxsudo$$"
work="$(mktemp -d)"
sudoers="/etc/sudoers.d/$user"
cleanup() {
  rm -f "$sudoers"
  userdel -r "$user" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

useradd --create-home --shell /bin/bash "$user"
echo "$user ALL=(ALL) NOPASSWD: ALL" >"$sudoers"
chmod 0440 "$sudoers"

# The stand-in project: the two scripts, and targets that put a reporting "helper" in place.
project="$work/project"
mkdir -p "$project/scripts"
cp "$repo/scripts/run-helper.sh" "$repo/scripts/install-deps.sh" "$project/scripts/"
cat >"$project/fake-helper.sh" <<'HELPER'
#!/bin/sh
echo "user=$(id -un) home=$HOME runtime=$XDG_RUNTIME_DIR display=$DISPLAY args=$*"
HELPER
chmod 0755 "$project/fake-helper.sh"
cat >"$project/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(standin NONE)
add_custom_target(tamborix-helper
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/src/app
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/fake-helper.sh ${CMAKE_BINARY_DIR}/src/app/tamborix-helper)
add_custom_target(tamborix-remote)
CMAKE
# The user's checkout: theirs to build in.
chown -R "$user:" "$work"
chmod 0755 "$work"

out="$(cd "$project" && runuser -u "$user" -- env DISPLAY=:42 \
  sudo -n bash scripts/run-helper.sh --port 0 2>"$work/err")" || {
  echo "FAIL: the run command failed:" >&2
  cat "$work/err" >&2
  exit 1
}
home="$(getent passwd "$user" | cut -d: -f6)"
uid="$(id -u "$user")"
expected="user=$user home=$home runtime=/run/user/$uid display=:42 args=--port 0"
if [ "$out" != "$expected" ]; then
  echo "FAIL: the helper started as" >&2
  echo "  $out" >&2
  echo "expected" >&2
  echo "  $expected" >&2
  cat "$work/err" >&2
  exit 1
fi
if [ "$(stat -c %U "$project/build-run")" != "$user" ]; then
  echo "FAIL: build-run belongs to $(stat -c %U "$project/build-run"), not to $user" >&2
  exit 1
fi
echo "ok: $out"
