#!/usr/bin/env bash
# Installs the build into a fresh staging folder, as a package would lay it
# out, and checks that the desktop finds everything it needs there.
set -euo pipefail
build=$1 stage=$2

rm -rf "$stage"
cmake --install "$build" --prefix "$stage" >/dev/null

status=0
expect() { # path, and a description that `file` gives for it
    if [ ! -f "$stage/$1" ]; then
        echo "missing: $1" >&2
        status=1
    elif [[ "$(file -b "$stage/$1")" != *"$2"* ]]; then
        echo "$1 is not $2: $(file -b "$stage/$1")" >&2
        status=1
    fi
}
expect bin/glitchwerk ELF
[ -x "$stage/bin/glitchwerk" ] || { echo "bin/glitchwerk is not executable" >&2; status=1; }
expect share/applications/org.glitchwerk.Glitchwerk.desktop text
expect share/metainfo/org.glitchwerk.Glitchwerk.metainfo.xml XML
expect share/icons/hicolor/16x16/apps/glitchwerk.png "PNG image data, 16 x 16"
expect share/icons/hicolor/32x32/apps/glitchwerk.png "PNG image data, 32 x 32"
expect share/icons/hicolor/scalable/apps/glitchwerk.svg SVG
exit $status
