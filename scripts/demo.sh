#!/usr/bin/env bash
# Packs the demo application into build/Orrin-Deck.exe and runs it twice under Wine:
# the first start unpacks the tree, the second finds it intact and writes nothing. Then
# packs its windowed card table into build/Orrin-Table.exe with --windowed and runs that.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export WINEPREFIX=${WINEPREFIX:-$root/$build/wine-prefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64

image=$build/Orrin-Deck.exe
"$build/host/talvik" pack "$build/win/demo-app" -o "$image" --exe orrin.exe \
  --company "Fernwick Studio" --product "Orrin Deck" --version 1.20.0.0 \
  --copyright "Copyright (C) 2026 Fernwick Studio"
echo
"$build/host/talvik" list "$image"

# {CACHE_DIR} is the local application-data folder of the prefix's user.
local_appdata=$(find "$WINEPREFIX/drive_c/users" -maxdepth 3 -type d -path '*/AppData/Local' ! -path '*/Public/*')
target=${local_appdata%%$'\n'*}/FernwickStudio/Orrin-Deck/1.20
rm -rf "$target"
# Wine's server and background processes, started apart from this script's output.
/usr/lib/wine/wineserver -p >/dev/null 2>&1 </dev/null || true
$wine wineboot >/dev/null 2>&1 </dev/null

echo
echo "== first start (unpacks into ${target#$WINEPREFIX/}) =="
(cd "$build" && $wine Orrin-Deck.exe deal "two players" --seed 7)
snapshot() { (cd "$target" && find . -type f -printf '%p %T@\n' | sort); }
before=$(snapshot)

echo
echo "== second start (reuses the tree) =="
status=0
(cd "$build" && $wine Orrin-Deck.exe --exit 3) || status=$?
after=$(snapshot)
files=$(printf '%s\n' "$before" | wc -l)
if [ "$before" = "$after" ]; then
  echo "second start: $files files found intact, none rewritten (modification times unchanged); exit status $status"
else
  echo "second start rewrote files:"; diff <(echo "$before") <(echo "$after") || true
  exit 1
fi

# The windowed launcher: no console window of its own, a GUI child that opens a window and
# closes it by itself (or, with no display, ends at once with exit code 10).
table=$build/Orrin-Table.exe
echo
"$build/host/talvik" pack "$build/win/demo-table-app" -o "$table" --exe orrin-table.exe --windowed \
  --company "Fernwick Studio" --product "Orrin Table" --version 1.20.0.0 \
  --copyright "Copyright (C) 2026 Fernwick Studio"
"$build/host/talvik" list "$table" | grep '^subsystem'
echo
echo "== windowed start (the table closes itself after a second) =="
status=0
(cd "$build" && $wine Orrin-Table.exe --close-after 1000 --exit 4) || status=$?
case $status in
  4) echo "windowed start: the table window opened and closed; exit status $status passed through" ;;
  10) echo "windowed start: no display to open the table window on; exit status $status passed through" ;;
  *) echo "windowed start: unexpected exit status $status"; exit 1 ;;
esac
