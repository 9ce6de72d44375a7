#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Packs the Windows build (scripts/windows-tests.sh makes it) into
# build-mingw/package: a portable zip of both programs, glitchwerk-play (no
# cores), LICENSE and the README as text, and a per-user installer made with
# NSIS. With --check, the
# installer is then run silently under a Wine of its own, the installed
# program started once, and everything uninstalled again.
set -euo pipefail
cd "$(dirname "$0")/.."

build="build-mingw/build"
[ -f "$build/CMakeCache.txt" ] || scripts/windows-tests.sh
cmake --build "$build" -j "$(nproc)" --target glitchwerk_win32 glitchwerk-cli glitchwerk-play >/dev/null

version=$(sed -n 's/^project(glitchwerk VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
out=$PWD/build-mingw/package
name=Glitchwerk-$version-windows
stage=$out/$name
rm -rf "$out" && mkdir -p "$stage"
cp "$build/win32/glitchwerk.exe" "$build/cli/glitchwerk-cli.exe" "$build/play/glitchwerk-play.exe" "$stage/"
cp LICENSE "$stage/LICENSE.txt"
cp README.md "$stage/README.txt"
(cd "$out" && cmake -E tar cf "$name.zip" --format=zip "$name")

# "Open with" for the extensions of the ROM types the desktop entry lists.
extensions=$(sed -n 's/^MimeType=//p' packaging/org.glitchwerk.Glitchwerk.desktop | tr ';' '\n' |
    while read -r type; do [ -z "$type" ] || sed -n "s|^$type:\*||p" /usr/share/mime/globs; done | sort -u)
[ -n "$extensions" ] || { echo "no ROM extensions found (shared-mime-info)" >&2; exit 1; }
{
    echo '!macro ForEachExtension what'
    for extension in $extensions; do echo "    !insertmacro \${what} \"$extension\""; done
    echo '!macroend'
} >"$out/extensions.nsh"
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DEXTENSIONS="$out/extensions.nsh" -DOUTFILE="$out/$name-setup.exe" \
    packaging/glitchwerk.nsi
echo "Made $out/$name.zip and $out/$name-setup.exe"
[ "${1:-}" = --check ] || exit 0

# The check, in the Wine and display of scripts/windows-tests.sh when it runs
# this, else in a fresh quiet Wine and display of its own; either Wine keeps
# the Start-menu shortcut out of this machine's own menus.
if [ -z "${GLITCHWERK_WINE_READY:-}" ]; then
    source scripts/private-wine.sh
    private_wine 1024x768
fi
fail() { echo "FAIL: $*" >&2; exit 1; }

wine "$out/$name-setup.exe" /S
wineserver --wait
dir=$(find "$WINEPREFIX/drive_c/users" -maxdepth 5 -path '*/AppData/Local/Programs/Glitchwerk')
[ -n "$dir" ] || fail "nothing in %LOCALAPPDATA%\\Programs\\Glitchwerk"
for file in glitchwerk.exe glitchwerk-cli.exe glitchwerk-play.exe LICENSE.txt README.txt uninst.exe; do
    [ -f "$dir/$file" ] || fail "$file was not installed"
done
shortcut=$(find "$WINEPREFIX/drive_c/users" -name Glitchwerk.lnk)
[ -n "$shortcut" ] || fail "no Start-menu shortcut"
wine reg query 'HKCU\Software\Classes\Applications\glitchwerk.exe\SupportedTypes' | grep -q '\.nes' ||
    fail "no Open with for .nes"

# The installed program answers --version in a box, closed here with Enter.
wine "$dir/glitchwerk.exe" --version &
program=$!
for _ in $(seq 200); do
    box=$(xdotool search --onlyvisible --name '^Glitchwerk$' 2>/dev/null | head -1) && [ -n "$box" ] && break
    sleep 0.1
done
[ -n "${box:-}" ] || fail "glitchwerk.exe --version showed no box"
xdotool windowfocus --sync "$box" key Return
wait "$program" || fail "glitchwerk.exe --version ended with status $?"

# A data file left in the program's folder stays; everything installed goes.
touch "$dir/Glitchwerk.dat"
wine "$dir/uninst.exe" /S
wineserver --wait
[ "$(ls -A "$dir")" = Glitchwerk.dat ] || fail "left in the folder: $(ls -A "$dir")"
[ ! -e "$shortcut" ] || fail "the Start-menu shortcut is still there"
! wine reg query 'HKCU\Software\Classes\Applications\glitchwerk.exe' >/dev/null 2>&1 ||
    fail "Open with is still registered"
echo "Installed, started and uninstalled under Wine"
