#!/usr/bin/env bash
# Builds the .deb from a build tree, unpacks it into a temporary root and checks what a user gets:
# the file list and modes, the dependencies, working binaries, lintian, the desktop entry, the
# AppStream data, the user unit, the manual pages, and that each manual page lists what --help says.
#   check_package.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# Runs a checker; any output on either stream, or a non-zero status, is a failure.
silent() {
  local what=$1; shift
  local out rc=0
  out=$("$@" 2>&1) || rc=$?
  if [ "$rc" -ne 0 ] || [ -n "$out" ]; then
    fail "$what (status $rc)"
    printf '%s\n' "$out" >&2
  fi
}

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack" >&2
  exit 1
fi
debs=("$work"/out/*.deb)
[ "${#debs[@]}" -eq 1 ] || { echo "FAIL: expected one .deb, got ${debs[*]}" >&2; exit 1; }
deb=${debs[0]}
[ "$(basename "$deb")" = "tamborix-helper_${version}_$(dpkg --print-architecture).deb" ] ||
  fail "package file name $(basename "$deb")"
root=$work/root
dpkg -x "$deb" "$root"

# Exactly these files, owned by root, programs 0755 and everything else 0644; directories 0755.
expected_files() {
  echo "-rwxr-xr-x ./usr/bin/tamborix-helper"
  echo "-rwxr-xr-x ./usr/bin/tamborix-remote"
  local f
  for f in usr/lib/systemd/user/tamborix-helper.service \
           usr/share/applications/io.tamborix.Helper.desktop \
           usr/share/doc/tamborix-helper/changelog.gz \
           usr/share/doc/tamborix-helper/copyright \
           usr/share/icons/hicolor/scalable/apps/io.tamborix.Helper.svg \
           usr/share/man/man1/tamborix-helper.1.gz \
           usr/share/man/man1/tamborix-remote.1.gz \
           usr/share/metainfo/io.tamborix.Helper.metainfo.xml; do
    echo "-rw-r--r-- ./$f"
  done
  for size in 16 22 24 32 48 64 128 256; do
    echo "-rw-r--r-- ./usr/share/icons/hicolor/${size}x${size}/apps/io.tamborix.Helper.png"
  done
  for plugin in ui portal overlay; do
    echo "-rw-r--r-- ./usr/lib/$multiarch/tamborix-helper/tamborix-helper-$plugin.so"
  done
}
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
dpkg-deb -c "$deb" | awk '{print $1, $2, $6}' >"$work/listing"
awk '$2 != "root/root"' "$work/listing" | grep -q . && fail "files not owned by root: $(awk '$2 != "root/root"' "$work/listing")"
awk '$1 ~ /^d/ && $1 != "drwxr-xr-x"' "$work/listing" | grep -q . && fail "directory modes: $(awk '$1 ~ /^d/ && $1 != "drwxr-xr-x"' "$work/listing")"
awk '$1 !~ /^d/ {print $1, $3}' "$work/listing" | sort >"$work/files"
expected_files | sort >"$work/expected"
if ! diff -u "$work/expected" "$work/files" >"$work/files.diff"; then
  fail "file list or modes differ from the expected ones"
  cat "$work/files.diff" >&2
fi

# dpkg-shlibdeps found the libraries; the stripped programs still run.
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libsodium23 libqt6core6 libqt6network6; do
  [[ "$depends" == *"$lib "* || "$depends" == *"$lib," || "$depends" == *"$lib" ]] || fail "Depends lacks $lib: $depends"
done
for program in tamborix-helper tamborix-remote; do
  got=$("$root/usr/bin/$program" --version 2>&1) || true
  [ "$got" = "$program $version" ] || fail "$program --version printed: $got"
done
# The installed program finds its plugins beside it: the portal backend, forced on a machine
# without a session bus, is loaded and then finds no portal.
mkdir -p "$work/home" "$work/run"
chmod 700 "$work/run"
started=$(env -i PATH="$PATH" HOME="$work/home" XDG_RUNTIME_DIR="$work/run" DBUS_SESSION_BUS_ADDRESS=disabled: \
  timeout -s TERM 5 "$root/usr/bin/tamborix-helper" --console --backend portal --port 0 </dev/null 2>&1) || true
grep -q "^Backend: none, portal: " <<<"$started" || fail "the forced portal backend was not tried: $started"
grep -q "not installed\|cannot be loaded\|another version" <<<"$started" &&
  fail "the installed program did not load its portal plugin: $started"
for size in 16 22 24 32 48 64 128 256; do
  file -b "$root/usr/share/icons/hicolor/${size}x${size}/apps/io.tamborix.Helper.png" |
    grep -q "^PNG image data, $size x $size, 8-bit/color RGBA" || fail "icon ${size}x${size} is not a ${size} px RGBA PNG"
done

# lintian: no errors and no warnings (its note about running as root is not about the package).
if ! lintian --fail-on error,warning --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>"$work/lintian.err"; then
  fail "lintian"
  cat "$work/lintian.log" "$work/lintian.err" >&2
fi
grep -q "^[EW]: " "$work/lintian.log" && { fail "lintian reports"; cat "$work/lintian.log" >&2; }

silent "desktop-file-validate" desktop-file-validate "$root/usr/share/applications/io.tamborix.Helper.desktop"
if ! appstreamcli validate-tree --no-net "$root" >"$work/appstream.log" 2>&1; then
  fail "appstreamcli validate-tree"
  cat "$work/appstream.log" >&2
fi

# The unit as installed, except that its program is the unpacked one; the user manager itself
# resolves the plain name in /usr/bin. systemd-analyze exits 0 on unknown keys, so any output fails.
unit=$root/usr/lib/systemd/user/tamborix-helper.service
grep -qx "ExecStart=tamborix-helper --console" "$unit" || fail "the unit does not start the console mode"
mkdir -p "$work/unit" "$work/runtime"
chmod 0700 "$work/runtime"
sed "s#^ExecStart=tamborix-helper #ExecStart=$root/usr/bin/tamborix-helper #" "$unit" >"$work/unit/tamborix-helper.service"
silent "systemd-analyze --user verify" env XDG_RUNTIME_DIR="$work/runtime" MANPATH="$root/usr/share/man" \
  systemd-analyze --user verify "$work/unit/tamborix-helper.service"

# Manual pages: no groff warnings (the call lintian makes), and every --help entry on the page.
normalise() { tr -s ' \t\n' '   ' | sed 's/^ //; s/ $//'; }
for program in tamborix-helper tamborix-remote; do
  page=$root/usr/share/man/man1/$program.1.gz
  silent "man --warnings $program" env LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    sh -c 'man --warnings -E UTF-8 -l -Tutf8 -Z "$1" >/dev/null' sh "$page"
  LC_ALL=C.UTF-8 MANWIDTH=1000 man -l "$page" 2>/dev/null | col -bx | normalise >"$work/$program.txt"
  "$root/usr/bin/$program" --help >"$work/$program.help"
  synopsis=$(head -n 1 "$work/$program.help" | sed 's/^Usage: //' | normalise)
  grep -qF -- "SYNOPSIS $synopsis " "$work/$program.txt" || fail "$program: the synopsis is not \"$synopsis\""
  # One "TERM<TAB>DESCRIPTION" line per entry, continuation lines joined.
  awk '
    /^  [^ ]/ { if (t != "") print t "\t" d; line = substr($0, 3); i = index(line, "  ");
                t = substr(line, 1, i - 1); d = substr(line, i); next }
    /^   +[^ ]/ && t != "" { d = d " " $0; next }
    { if (t != "") print t "\t" d; t = "" }
    END { if (t != "") print t "\t" d }' "$work/$program.help" >"$work/$program.entries"
  [ -s "$work/$program.entries" ] || fail "$program --help lists nothing"
  while IFS=$'\t' read -r term description; do
    entry="$(printf '%s' "$term" | normalise) $(printf '%s' "$description" | normalise)"
    grep -qF -- " $entry " "$work/$program.txt" || fail "$program: the manual page lacks \"$entry\""
  done <"$work/$program.entries"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package $(basename "$deb"): all checks passed"
