#!/bin/sh
# Runs Windows test programs under wine64 in a throw-away prefix.
#   wine.sh setup   PREFIX WINE64 WINESERVER      create the prefix (once per test run)
#   wine.sh run     PREFIX WINE64 PROGRAM [ARGS]  run one program, its exit code is ours
#   wine.sh cleanup PREFIX WINE64 WINESERVER      stop the prefix's wineserver, remove it
# No display, no debug channels, and no Mono or Gecko installers: the
# programs are console programs and there is no network.
set -u
command=$1 prefix=$2 wine64=$3
shift 3
unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# wine leaves temporary folders behind; they go beside the prefix and with it.
export TMPDIR="$prefix-tmp"
mkdir -p "$TMPDIR"
# A first start in a new prefix can be slow on a busy machine; this only
# stops a hung wine from holding the suite.
bound=240

case "$command" in
setup)
  wineserver=$1
  "$wineserver" -k 2>/dev/null
  rm -rf "$prefix"
  echo "creating wine prefix $prefix with $wine64"
  timeout $bound "$wine64" wineboot --init >"$TMPDIR/wineboot.log" 2>&1
  status=$?
  # wineboot leaves services starting in the background; a driver service
  # started before they settle takes the service manager's full timeout.
  timeout $bound "$wineserver" -w
  if [ $status -ne 0 ] || [ ! -f "$prefix/system.reg" ]; then
    cat "$TMPDIR/wineboot.log" >&2
    echo "wineboot failed (status $status): wine64 cannot run Windows programs here" >&2
    exit 1
  fi
  ;;
run)
  program=$1
  shift
  echo "running $program under $wine64"
  timeout $bound "$wine64" "$program" "$@"
  status=$?
  [ $status -eq 124 ] && echo "$program did not end within ${bound}s" >&2
  exit $status
  ;;
cleanup)
  wineserver=$1
  "$wineserver" -k 2>/dev/null
  rm -rf "$prefix" "$TMPDIR"
  ;;
*)
  echo "usage: wine.sh setup|run|cleanup PREFIX WINE64 ..." >&2
  exit 2
  ;;
esac
