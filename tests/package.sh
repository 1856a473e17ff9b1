#!/usr/bin/env bash
# Builds the Debian package with cpack, checks it with lintian, unpacks it into a
# scratch root and starts the program installed there.
# Usage: package.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
scratch=$(mktemp -d)
pid=""
cleanup() {
    [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/cpack" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$scratch"/cpack/tarlivo_*.deb)
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "Depends not read from the linked libraries"
# Reading aloud needs Qt's speech plugin, the service and its German voice (the
# service's espeak-ng module and the voices), none of which Depends pulls in.
recommends=$(dpkg-deb -f "$deb" Recommends | tr -d ' ' | tr ',' '\n')
for p in qt6-speech-speechd-plugin speech-dispatcher speech-dispatcher-espeak-ng espeak-ng; do
    grep -qx "$p" <<<"$recommends" || fail "Recommends lack $p"
done

# Errors fail; warnings and notes are printed for the record.
status=0
lintian --fail-on error --display-info --tag-display-limit 0 "$deb" >"$scratch/lintian.log" 2>&1 || status=$?
grep -v 'root privileges' "$scratch/lintian.log" >&2 || true
[ "$status" -eq 0 ] || fail "lintian"
# The program is built with the hardening Debian's own packages get (a sanitizer
# build instruments the same places its own way and goes without).
if [ "@TARLIVO_SANITIZE@" != ON ]; then
    ! grep -q 'hardening-' "$scratch/lintian.log" || fail "lintian finds hardening missing"
fi

root=$scratch/root
dpkg -x "$deb" "$root"
bin=$root/usr/bin/tarlivo
for f in usr/libexec/tarlivo/tarlivo-mdb-reader usr/share/applications/de.velmorin.Tarlivo.desktop \
    usr/share/metainfo/de.velmorin.Tarlivo.metainfo.xml usr/share/icons/hicolor/scalable/apps/de.velmorin.Tarlivo.svg \
    usr/share/man/man1/tarlivo.1.gz usr/share/doc/tarlivo/copyright \
    usr/@CMAKE_INSTALL_LIBDIR@/tarlivo/libtarlivo_sound.so usr/@CMAKE_INSTALL_LIBDIR@/tarlivo/libtarlivo_voice.so; do
    [ -f "$root/$f" ] || fail "$f missing"
done

export HOME=$scratch/home XDG_DATA_HOME=$scratch/xdg QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME"
[ "$("$bin" --version)" = "Tarlivo @PROJECT_VERSION@" ] || fail "--version"
if "$bin" --unbekannt 2>"$scratch/err"; then fail "unknown option accepted"; fi
grep -q 'Unbekannte Option' "$scratch/err" || fail "no German message for an unknown option"
[ ! -e "$XDG_DATA_HOME" ] || fail "a refused command line created the data folder"

# Sound and reading aloud come with their plugins only: the program links neither.
! readelf -d "$bin" | grep -q -E 'libQt6(Multimedia|TextToSpeech)' || fail "the program links Qt Multimedia or TextToSpeech"

# The reader the program finds relative to itself runs with the package's dependencies.
"$root/usr/libexec/tarlivo/tarlivo-mdb-reader" "$source/tests/data/legacy/small.mdb" >/dev/null ||
    fail "installed reader"

# Installed (even where root may write): the data goes to the user's folder, which
# the start makes; nothing lands beside the program.
"$bin" &
pid=$!
for _ in $(seq 100); do
    [ -d "$XDG_DATA_HOME/Tarlivo" ] && break
    kill -0 "$pid" 2>/dev/null || fail "the installed program ended at start"
    sleep 0.1
done
[ -d "$XDG_DATA_HOME/Tarlivo" ] || fail "data folder not made"
sleep 0.5
kill -0 "$pid" 2>/dev/null || fail "the installed program did not keep running"
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=""
[ ! -e "$root/usr/bin/Tarlivo.mdb" ] || fail "data file beside the installed program"
echo "package: $(basename "$deb"), installed size $(dpkg-deb -f "$deb" Installed-Size) KiB"
