#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Packs the Windows build (scripts/windows-tests.sh makes it) into
# build-mingw/package: a portable zip of both programs, glitchwerk-play (no
# cores), LICENSE and the README as text, and a per-user installer made with
# NSIS. With --check, the
# installer is then run silently under a Wine of its own, the installed
# program started once, and everything uninstalled again; then again with
# "Add to PATH", on a PATH that takes the folder and on one too long for it.
set -euo pipefail
cd "$(dirname "$0")/.."

build="build-mingw/build"
[ -f "$build/CMakeCache.txt" ] || scripts/windows-tests.sh
cmake --build "$build" -j "$(nproc)" --target glitchwerk_win32 glitchwerk-cli glitchwerk-play \
    glitchwerk_user_path_tool >/dev/null

version=$(sed -n 's/^project(glitchwerk VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
out=$PWD/build-mingw/package
name=Glitchwerk-$version-windows
stage=$out/$name
tools=$out/tools # inside the installer only
rm -rf "$out" && mkdir -p "$stage" "$tools"
# Stripped: the symbols are more than half of each program.
strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$build/CMakeCache.txt")
"$strip" -o "$stage/glitchwerk.exe" "$build/win32/glitchwerk.exe"
"$strip" -o "$stage/glitchwerk-cli.exe" "$build/cli/glitchwerk-cli.exe"
"$strip" -o "$stage/glitchwerk-play.exe" "$build/play/glitchwerk-play.exe"
"$strip" -o "$tools/user-path.exe" "$build/win32/user-path.exe"
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
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DTOOLS="$tools" -DEXTENSIONS="$out/extensions.nsh" -DOUTFILE="$out/$name-setup.exe" \
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
setup() { wine "$out/$name-setup.exe" /S "$@" && wineserver --wait; }
uninstall() { wine "$dir/uninst.exe" /S && wineserver --wait; }
# The user's environment as regedit writes it: every value, type and byte.
environment() { wine reg export 'HKCU\Environment' "$out/$1.reg" /y >/dev/null; }
as_before() { environment now && cmp -s "$out/before.reg" "$out/now.reg"; }
path_is() { # type, value
    wine reg query 'HKCU\Environment' /v Path | tr -d '\r' | grep -qxF "    Path    $1    $2" ||
        fail "PATH is not $1 $2: $(wine reg query 'HKCU\Environment' /v Path)"
}

# A PATH of the user's own, with a variable in it; without "Add to PATH" it
# stays as it is through installing and uninstalling.
others='%USERPROFILE%\bin;C:\other'
wine reg add 'HKCU\Environment' /v Path /t REG_EXPAND_SZ /d "$others" /f >/dev/null
environment before
setup
dir=$(find "$WINEPREFIX/drive_c/users" -maxdepth 5 -path '*/AppData/Local/Programs/Glitchwerk')
[ -n "$dir" ] || fail "nothing in %LOCALAPPDATA%\\Programs\\Glitchwerk"
for file in glitchwerk.exe glitchwerk-cli.exe glitchwerk-play.exe LICENSE.txt README.txt uninst.exe; do
    [ -f "$dir/$file" ] || fail "$file was not installed"
done
for file in glitchwerk.exe glitchwerk-cli.exe glitchwerk-play.exe; do
    "${strip%strip}objdump" -t "$dir/$file" | grep -qx 'no symbols' || fail "$file is not stripped"
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

# Without "Add to PATH" the user's environment stays as it was. Installed
# again with /ADDTOPATH, the folder goes at the end of PATH, REG_EXPAND_SZ
# kept, and glitchwerk-cli runs by name in a console started afterwards.
as_before || fail "the environment changed without Add to PATH"
setup /ADDTOPATH
path_is REG_EXPAND_SZ "$others;$(winepath -w "$dir")"
wine cmd /c glitchwerk-cli --version | grep -q "^glitchwerk-cli" || fail "glitchwerk-cli is not on PATH"

# A data file left in the program's folder stays; everything installed goes,
# and of PATH exactly the entry added.
touch "$dir/Glitchwerk.dat"
uninstall
[ "$(ls -A "$dir")" = Glitchwerk.dat ] || fail "left in the folder: $(ls -A "$dir")"
[ ! -e "$shortcut" ] || fail "the Start-menu shortcut is still there"
! wine reg query 'HKCU\Software\Classes\Applications\glitchwerk.exe' >/dev/null 2>&1 ||
    fail "Open with is still registered"
as_before || fail "PATH not as before: $(wine reg query 'HKCU\Environment' /v Path)"

# A PATH that cannot take the folder stays as it is; what user-path says of
# it is what the installer's box shows.
long=$(printf 'C:\\other;%*s' $((32766 - 12)) '' | tr ' ' x)
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Environment]\r\n"Path"="%s"\r\n' "${long//\\/\\\\}" >"$out/long.reg"
wine reg import "$out/long.reg" >/dev/null 2>&1
path_is REG_SZ "$long"
environment before
setup /ADDTOPATH
as_before || fail "a PATH too long for the folder changed"
status=0
said=$(wine "$tools/user-path.exe" add "$(winepath -w "$dir")" | iconv -f UTF-16 -t UTF-8) || status=$?
if [ "$status" != 2 ] || [[ "$said" != "Your PATH was left as it was: "*" Windows takes 32766 at most."* ]]; then
    fail "user-path on a PATH too long ended with $status, saying: $said"
fi
# The folder put on PATH by hand meanwhile stays there: the installer did
# not add it.
wine reg add 'HKCU\Environment' /v Path /t REG_SZ /d "C:\other;$(winepath -w "$dir")" /f >/dev/null
environment before
uninstall
as_before || fail "uninstalling took off an entry it had not added"
echo "Installed, started and uninstalled under Wine, PATH changed only with Add to PATH"
