#!/bin/bash
# make bench: builds the benchmark programs, keeps one Wine server running for all runs (so
# its start-up is never measured), and hands over to bench.py.
#   bash bench/run.sh BUILD_DIR [bench.py options: --runs N, --pack-runs N, --decoder-options]
#   bash bench/run.sh BUILD_DIR --reuse-check [--runs N]
#   bash bench/run.sh BUILD_DIR --lock [--runs N] [--against OTHER_TALVIK]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
shift || true

export WINEPREFIX=${WINEPREFIX:-$build/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wineserver=/usr/lib/wine/wineserver
jobs=$(nproc)

cmake --build "$build/win" -j "$jobs" --target bench-windows talvik-stub orrin
cmake --build "$build/host" -j "$jobs" --target bench-host talvik
# talvik.exe takes generated sources from the host tree.
cmake --build "$build/win" -j "$jobs" --target talvik-windows

# A server already running (status 2) is used as it is; either way it is ended afterwards.
# It must not hold this script's output open.
"$wineserver" -p >/dev/null 2>&1 </dev/null || [ $? -eq 2 ]
trap '"$wineserver" -k || true' EXIT
# --reuse-check alone runs only the figures of the metadata reuse check.
# --lock alone runs only the figures of the unpack lock, with --against also beside the
# launcher of another talvik tool.
if [ "${1:-}" = "--reuse-check" ]; then
  shift
  python3 "$here/reuse_check.py" --build "$build" "$@"
elif [ "${1:-}" = "--lock" ]; then
  shift
  python3 "$here/lock_figures.py" --build "$build" "$@"
else
  python3 "$here/bench.py" --build "$build" "$@"
  python3 "$here/reuse_check.py" --build "$build"
  python3 "$here/lock_figures.py" --build "$build"
fi
