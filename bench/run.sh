#!/bin/bash
# make bench: builds the benchmark programs, keeps one Wine server running for all runs (so
# its start-up is never measured), hands over to bench.py and reuse_check.py, and draws the
# figures with chart.py.
#   bash bench/run.sh BUILD_DIR [bench.py options: --runs N, --pack-runs N, --decoder-options]
#   bash bench/run.sh BUILD_DIR --reuse-check [--runs N]
#   bash bench/run.sh BUILD_DIR --child-job [--runs N]
#   bash bench/run.sh BUILD_DIR --progress-window [--runs N]
#   bash bench/run.sh BUILD_DIR --lock [--runs N] [--against OTHER_TALVIK]
#   bash bench/run.sh BUILD_DIR --old-trees [--runs N] [--unstamped OTHER_TALVIK] [--only cold|removal]
# A full run passes TALVIK_UNSTAMPED, when set, to old_trees.py as --unstamped.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
shift || true

export WINEPREFIX=${WINEPREFIX:-$build/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wineserver=/usr/lib/wine/wineserver
jobs=$(nproc)

cmake --build "$build/win" -j "$jobs" --target bench-windows talvik-stub orrin orrin-table
cmake --build "$build/host" -j "$jobs" --target bench-host talvik
# talvik.exe takes generated sources from the host tree.
cmake --build "$build/win" -j "$jobs" --target talvik-windows

# A server already running (status 2) is used as it is; either way it is ended afterwards.
# It must not hold this script's output open.
"$wineserver" -p >/dev/null 2>&1 </dev/null || [ $? -eq 2 ]
trap '"$wineserver" -k || true' EXIT
# --reuse-check alone runs only the figures of the metadata reuse check, --child-job only
# those of the child's job, --progress-window only those of the progress window (last in a
# full run, as it is the one that shows windows), --lock only those of the unpack lock (with
# --against also beside the launcher of another talvik tool). The chart draws none of the
# last three.
results=("$build/bench/results.json")
chart=$build/bench/figures.svg
if [ "${1:-}" = "--reuse-check" ]; then
  shift
  python3 "$here/reuse_check.py" --build "$build" "$@"
  results=()
  chart=$build/bench/reuse-check-figures.svg
elif [ "${1:-}" = "--child-job" ]; then
  shift
  python3 "$here/child_job.py" --build "$build" "$@"
  exit 0
elif [ "${1:-}" = "--progress-window" ]; then
  shift
  python3 "$here/progress_window.py" --build "$build" "$@"
  exit 0
elif [ "${1:-}" = "--old-trees" ]; then
  shift
  python3 "$here/old_trees.py" --build "$build" "$@"
  exit 0
elif [ "${1:-}" = "--lock" ]; then
  shift
  python3 "$here/lock_figures.py" --build "$build" "$@"
  exit 0
else
  python3 "$here/bench.py" --build "$build" "$@"
  python3 "$here/reuse_check.py" --build "$build"
  python3 "$here/lock_figures.py" --build "$build"
  python3 "$here/old_trees.py" --build "$build" ${TALVIK_UNSTAMPED:+--unstamped "$TALVIK_UNSTAMPED"}
  python3 "$here/child_job.py" --build "$build"
  python3 "$here/progress_window.py" --build "$build"
  for option in "$@"; do
    case $option in
      --pack-only) results=("$build/bench/pack-results.json") chart=$build/bench/pack-figures.svg ;;
      --decoder-options) results=() chart=$build/bench/reuse-check-figures.svg ;;
    esac
  done
fi
# The chart of this run's start and pack figures. Debian's interpreter, whatever python3
# comes first on PATH: matplotlib is Debian's package.
/usr/bin/python3 "$here/chart.py" "${results[@]}" "$build/bench/reuse-check.json" -o "$chart"
