#!/usr/bin/env bash
# Builds the Debian package from a configured and built Kivra build folder, unpacks it into a fresh
# folder with dpkg -x, and checks that the installed tree holds every file the program and the
# desktop look for. Then runs lintian, desktop-file-validate, appstreamcli and systemd-analyze on
# it when they are installed (tools/kivra-dev installs them).
#
#   tests/packaging/check_package.sh <build-dir>
#
# Exit status: 0 all checks passed; 1 a check failed; 77 every check that ran passed but a
# validator was missing (CTest reports the test as skipped).
set -uo pipefail

if [ $# -ne 1 ] || [ ! -f "$1/CPackConfig.cmake" ]; then
  echo "usage: $0 <configured and built Kivra build folder>" >&2
  exit 1
fi
build=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kivra-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

failures=0
skipped=()
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }
have() { command -v "$1" >/dev/null 2>&1; }

# Lintian tags that a package built by CPack could not avoid would be listed here; none so far.
lintian_suppress=""

# --- 1. Build the package --------------------------------------------------------------------
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  have "$tool" || { fail "$tool is needed to build the package (Debian: cmake, dpkg, dpkg-dev)"; exit 1; }
done
# Bring what the package holds up to date (a no-op after a full build).
if ! cmake --build "$build" --target kivra kivra-relay kivra_compressed_docs >"$work/build.log" 2>&1; then
  cat "$work/build.log"
  fail "building kivra, kivra-relay and the compressed manual pages"
  exit 1
fi
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  fail "cpack -G DEB"
  exit 1
fi
debs=("$work"/out/kivra_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  fail "expected one kivra_<version>_<arch>.deb, found: $(ls "$work/out")"
  exit 1
fi
deb=${debs[0]}
arch=$(dpkg --print-architecture)
version=$(dpkg-deb -f "$deb" Version)
[ "$(basename "$deb")" = "kivra_${version}_${arch}.deb" ] \
  && pass "package $(basename "$deb")" || fail "package file name $(basename "$deb")"

# --- 2. Control fields -----------------------------------------------------------------------
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for dep in libqt6widgets6 libqt6network6 libqt6svg6 qt6-qpa-plugins librtmidi6 libfluidsynth3 libsndfile1 \
           "timgm6mb-soundfont | sf2-soundfont-gm"; do
  # Each dependency is a whole comma-separated item, optionally with a version.
  if printf '%s\n' "$depends" | tr ',' '\n' | sed 's/^ *//; s/ *([^)]*)//g; s/ *$//' | grep -qxF -- "$dep"; then
    pass "depends on $dep"
  else
    fail "Depends lacks '$dep'"
  fi
done
[ "$(dpkg-deb -f "$deb" Section)" = sound ] && pass "section sound" || fail "section is not sound"
# The relay service must not be enabled or started by installing the package.
dpkg-deb -e "$deb" "$work/control"
if grep -qsE 'systemctl|deb-systemd' "$work"/control/postinst "$work"/control/preinst 2>/dev/null; then
  fail "maintainer scripts enable or start a service"
else
  pass "no maintainer script enables the relay"
fi

# --- 3. Unpack and check the installed tree ----------------------------------------------------
root=$work/root
dpkg -x "$deb" "$root"

need_file() {  # need_file <path under root> [description]
  if [ -f "$root/$1" ] && [ -s "$root/$1" ]; then pass "${2:-$1}"; else fail "missing or empty: /$1"; fi
}
need_exec() {
  if [ -x "$root/$1" ] && [ "$(head -c 4 "$root/$1" | tail -c 3)" = ELF ]; then pass "/$1"; else fail "not an executable: /$1"; fi
}

need_exec usr/bin/kivra
need_exec usr/bin/kivra-relay

# The program reads its data at <executable dir>/../share/kivra.
datadir=usr/share/kivra
[ -d "$root/usr/bin/../share/kivra" ] && pass "data folder beside the program" || fail "no /$datadir"

# Every shipped profile and picture of the source tree, and the default profile above all.
need_file "$datadir/keymaps/default.kmp" "default key-map profile"
for f in "$src"/data/keymaps/*.kmp; do [ -e "$f" ] && need_file "$datadir/keymaps/$(basename "$f")"; done
icons=$( (printf '%s.svg\n' key-config midi-devices drum-mode link music-maker group-piano \
            group-xylophone group-organ group-guitar group-bass group-violin kivra
          cd "$src/data/icons" && ls -- *.svg) | sort -u)
for icon in $icons; do need_file "$datadir/icons/$icon"; done
# Every catalogue of the source tree, compiled.
for f in "$src"/translations/*.ts; do [ -e "$f" ] && need_file "$datadir/translations/$(basename "${f%.ts}").qm"; done

# Every data file the sources name ("icons/x.svg", "keymaps/x.kmp") must be installed.
referenced=$(grep -rhoE '"(icons|keymaps)/[A-Za-z0-9._-]+\.(svg|kmp|png)"' \
               "$src"/app "$src"/midi "$src"/keyboard "$src"/musicmaker "$src"/formats "$src"/link \
               --include='*.cpp' --include='*.h' 2>/dev/null | tr -d '"' | sort -u)
for rel in $referenced; do need_file "$datadir/$rel" "named in the sources: $rel"; done

# Desktop integration: menu entry, its icon and command, AppStream data, man pages.
desktop=usr/share/applications/kivra.desktop
need_file "$desktop"
if [ -f "$root/$desktop" ]; then
  icon=$(sed -n 's/^Icon=//p' "$root/$desktop")
  exec_cmd=$(sed -n 's/^Exec=//p' "$root/$desktop" | cut -d' ' -f1)
  need_file "usr/share/icons/hicolor/scalable/apps/$icon.svg" "menu icon '$icon'"
  [ -x "$root/usr/bin/$exec_cmd" ] && pass "menu command '$exec_cmd'" || fail "Exec=$exec_cmd is not in /usr/bin"
  categories=$(sed -n 's/^Categories=//p' "$root/$desktop")
  for c in Audio Music; do
    [[ ";$categories" == *";$c;"* ]] && pass "category $c" || fail "Categories lacks $c"
  done
  # A MIDI file double-clicked in the file manager reaches the program.
  mimetypes=$(sed -n 's/^MimeType=//p' "$root/$desktop")
  for m in audio/midi audio/x-midi; do
    [[ ";$mimetypes" == *";$m;"* ]] && pass "opens $m" || fail "MimeType lacks $m"
  done
  grep -qE '^Exec=kivra %[fFuU]$' "$root/$desktop" && pass "takes a file" || fail "Exec takes no file"
fi
metainfo=$(cd "$root" && ls usr/share/metainfo/*.metainfo.xml 2>/dev/null | head -n 1)
if [ -n "$metainfo" ]; then
  pass "/$metainfo"
  launchable=$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' "$root/$metainfo")
  [ -f "$root/usr/share/applications/$launchable" ] && pass "AppStream launchable $launchable" \
    || fail "AppStream launchable '$launchable' is not installed"
  for m in audio/midi audio/x-midi; do
    grep -q "<mediatype>$m</mediatype>" "$root/$metainfo" && pass "AppStream provides $m" || fail "AppStream lacks $m"
  done
else
  fail "no AppStream metadata in /usr/share/metainfo"
fi
for page in kivra kivra-relay; do
  man=usr/share/man/man1/$page.1.gz
  if [ -f "$root/$man" ] && gzip -t "$root/$man" && zcat "$root/$man" | grep -q "^\.SH NAME"; then
    pass "/$man"
  else
    fail "missing or broken man page /$man"
  fi
done
need_file usr/share/doc/kivra/copyright

# The relay as a system service: port 766, no root, bound through the one capability it needs.
unit=usr/lib/systemd/system/kivra-relay.service
need_file "$unit"
if [ -f "$root/$unit" ]; then
  for line in 'DynamicUser=yes' 'AmbientCapabilities=CAP_NET_BIND_SERVICE' \
              'ExecStart=/usr/bin/kivra-relay --port 766'; do
    grep -qxF "$line" "$root/$unit" && pass "unit: $line" || fail "unit lacks '$line'"
  done
  grep -qE '^(User|Group)=root' "$root/$unit" && fail "unit runs as root"
fi

# Nothing else: no test programs, static libraries or headers.
unexpected=$(cd "$root" && find . -type f | sed 's|^\./||' | grep -vE \
  '^usr/bin/kivra(-relay)?$|^usr/share/kivra/(keymaps/[^/]+\.kmp|icons/[^/]+\.svg|translations/[^/]+\.qm)$|^usr/share/applications/kivra\.desktop$|^usr/share/icons/hicolor/scalable/apps/kivra\.svg$|^usr/share/metainfo/[^/]+\.metainfo\.xml$|^usr/share/man/man1/kivra(-relay)?\.1\.gz$|^usr/share/doc/kivra/(copyright|changelog\.gz)$|^usr/lib/systemd/system/kivra-relay\.service$')
[ -z "$unexpected" ] && pass "no unexpected files" || fail "unexpected files in the package: $unexpected"

# --- 4. Validators, when installed -------------------------------------------------------------
if have desktop-file-validate; then
  out=$(desktop-file-validate "$root/$desktop" 2>&1)
  [ -z "$out" ] && pass "desktop-file-validate" || fail "desktop-file-validate: $out"
else
  skipped+=(desktop-file-validate)
fi
if have appstreamcli; then
  if out=$(appstreamcli validate --no-net "$root/$metainfo" 2>&1); then
    pass "appstreamcli validate"
  else
    fail "appstreamcli validate: $out"
  fi
else
  skipped+=(appstreamcli)
fi
if have lintian; then
  # Errors and warnings fail; info and pedantic notes are printed only.
  out=$(lintian --tag-display-limit 0 ${lintian_suppress:+--suppress-tags "$lintian_suppress"} "$deb" 2>&1)
  status=$?
  echo "$out" | grep -E '^[EWIP]: ' || true
  if [ "$status" -gt 1 ]; then
    fail "lintian did not run (status $status): $out"
  elif echo "$out" | grep -qE '^[EW]: '; then
    fail "lintian reports errors or warnings"
  else
    pass "lintian"
  fi
else
  skipped+=(lintian)
fi
if have systemd-analyze; then
  # Verify the unit as installed, pointed at the unpacked relay.
  sed "s|/usr/bin/kivra-relay|$root/usr/bin/kivra-relay|" "$root/$unit" > "$work/kivra-relay.service"
  if out=$(systemd-analyze verify --man=no "$work/kivra-relay.service" 2>&1) && [ -z "$out" ]; then
    pass "systemd-analyze verify"
  else
    fail "systemd-analyze verify: $out"
  fi
else
  skipped+=(systemd-analyze)
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures packaging check(s) failed"
  exit 1
fi
if [ ${#skipped[@]} -gt 0 ]; then
  echo "SKIP: not installed: ${skipped[*]} (apt-get install lintian desktop-file-utils appstream)"
  exit 77
fi
echo "All packaging checks passed"
