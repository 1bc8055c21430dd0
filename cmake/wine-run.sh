#!/bin/sh
# Runs one Windows program under Wine in the build's private prefix.
: "${WINEPREFIX:=$(cd "$(dirname "$0")/.." && pwd)/build/wine-prefix}"
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
exec /usr/lib/wine/wine64 "$@"
