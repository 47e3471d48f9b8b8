#!/usr/bin/env bash
# The headless demo against this build, in a folder of its own: it must end
# well, leave the screenshots of both windows, and leave nothing running.
#   demo_test.sh SOURCE_DIR BIN_DIR
set -u
root=$1
bin=$2
for tool in Xvfb xdotool import xdpyinfo; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed (scripts/ensure-deps)"; exit 77; }
done

dir=$(mktemp -d "${TMPDIR:-/tmp}/halden-demo.XXXXXX")
trap 'rm -rf "$dir"' EXIT
source "$root/scripts/sanitizer-env"

start=$SECONDS
env -u DISPLAY timeout -s TERM 150 "$root/scripts/demo" --headless --bin "$bin" --dir "$dir"
status=$?
echo "demo took $((SECONDS - start)) s, exit status $status"
failed=0
[ "$status" = 0 ] || { echo "FAIL: the demo ended with status $status"; failed=1; }

for shot in brimlet.png tamsel.png; do
  if [ "$(head -c 8 "$dir/screenshots/$shot" 2>/dev/null | od -An -tx1 | tr -d ' \n')" != 89504e470d0a1a0a ]; then
    echo "FAIL: no PNG screenshot $shot"
    failed=1
  fi
done

# The programs ran under the sanitizers; their logs must be free of reports.
reports=$(grep -rls -e "ERROR: AddressSanitizer" -e "ERROR: LeakSanitizer" -e "runtime error:" \
  "$dir/agent" "$dir/controller" "$dir"/*.out 2>/dev/null || true)
if [ -n "$reports" ]; then
  while IFS= read -r log; do echo "FAIL: sanitizer report in $log"; cat "$log"; done <<<"$reports"
  failed=1
fi

# Nothing of the demo may outlive it: no process working in its folder or
# naming it, and the virtual display gone.
left=""
for p in /proc/[0-9]*; do
  [ "${p#/proc/}" = $$ ] && continue
  cwd=$(readlink "$p/cwd" 2>/dev/null) || continue
  cmd=$(tr '\0' ' ' <"$p/cmdline" 2>/dev/null) || continue
  case "$cwd/ $cmd" in
    *"$dir"/*) left="$left ${p#/proc/}($cmd)" ;;
  esac
done
display=$(head -n1 "$dir/xvfb.display" 2>/dev/null || true)
if [ -n "$display" ] && [ -e "/tmp/.X$display-lock" ]; then
  xpid=$(tr -d ' ' <"/tmp/.X$display-lock")
  grep -qs Xvfb "/proc/$xpid/cmdline" && left="$left $xpid(Xvfb :$display)"
fi
[ -z "$left" ] || { echo "FAIL: still running:$left"; failed=1; }
exit $failed
