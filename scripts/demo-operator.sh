# The operator's steps of the headless demo, sourced by scripts/demo once
# everything runs on the virtual display: one slot command and one EDID
# command through Brimlet's real window, by keyboard as a person would
# (xdotool), with the controller's schedules before and after, screenshots of
# both windows, and Brimlet ended through its "Quit" button.
# Uses from scripts/demo: demo, topic, password, brimlet_pid, say, fail,
# wait_for, schedules, orvel, stop_all.
# shellcheck shell=bash disable=SC2154

shots="$demo/screenshots"
agent_log="$demo/agent/tamsel.log"
handled_line="slot_mtsBranchReceived::topic = $topic"

find_window() { { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null || true; } | head -n1; }
window_of() { # NAME VAR: waits for the window, puts its id into VAR
  local id=""
  for _ in $(seq 100); do
    id=$(find_window "$1")
    [ -n "$id" ] && break
    sleep 0.1
  done
  [ -n "$id" ] || fail "no window \"$1\" on $DISPLAY"
  printf -v "$2" '%s' "$id"
}
# Keyboard input goes to the focused window; there is no window manager, so
# focus is set directly.
focus() { timeout 5 xdotool windowfocus --sync "$1" >/dev/null 2>&1 || xdotool windowfocus "$1"; sleep 0.3; }
keys() { xdotool key --delay 60 "$@"; sleep 0.2; }
type_text() { xdotool type --delay 60 "$1"; sleep 0.2; }
shoot() { import -window "$1" "$shots/$2" 2>/dev/null || fail "could not take the screenshot $2"; say "screenshot $shots/$2"; }
handled() { grep -c "$handled_line" "$agent_log" 2>/dev/null || true; }
packets() { grep -c " packet " "$demo/edid.log" 2>/dev/null || true; }

# Types the password twice into the modal "Password" dialog and confirms.
answer_password() {
  local dialog
  window_of "Password" dialog
  [ "${1:-}" = shoot ] && { sleep 0.3; shoot "$dialog" password.png; }
  focus "$dialog"
  type_text "$password"
  keys Tab
  type_text "$password"
  keys Tab space
  for _ in $(seq 50); do [ -z "$(find_window Password)" ] && return 0; sleep 0.1; done
  fail "the password dialog did not close"
}

# Polls schedule N until its JSON equals the expected text; the agent may still
# be writing, and a read meanwhile can be torn, so only an equal read counts.
wait_schedule() {
  local n=$1 expected=$2 got=""
  for _ in $(seq 20); do
    got=$(orvel --json schedule get "$n" 2>&1 || true)
    [ "$got" = "$expected" ] && return 0
    sleep 0.5
  done
  fail "schedule $n did not change as commanded: expected $expected, read $got"
}

window_of "Halden v1.0" brimlet_win
window_of "Tamsel" tamsel_win
# One above the other, so that neither screenshot shows part of the other window.
xdotool windowmove "$brimlet_win" 0 0
xdotool windowmove "$tamsel_win" 0 440
sleep 0.5

say "controller before the commands:"
schedules
shoot "$brimlet_win" brimlet-slot1.png

# Step 1: slot 2, power on at 07:15 instead of the default 09:00.
say "step 1: \"Remote TimeSlot2\", power on 07:15, \"Execute\", password twice, \"Confirmed\""
before=$(handled)
focus "$brimlet_win"
keys Home Down                          # the list: second page
keys Tab Tab Tab Tab Tab Tab Tab Tab    # seven day boxes and the power-on group
keys Tab                                # its time: the hour section
type_text "0715"                        # a full hour moves on to the minutes
sleep 0.3
shoot "$brimlet_win" brimlet.png
# Tab steps through a time's sections before leaving it: power-off group,
# its hour, its minute, "Execute".
keys Tab Tab Tab Tab
keys space
answer_password shoot
wait_for 100 test "$(handled)" -gt "$before" || fail "Tamsel did not receive the slot command (see $agent_log)"
sleep 0.5
wait_schedule 4 '{"onHour":7,"onMinute":15,"offHour":21,"offMinute":0,"enableFlags":3,"activeDays":127}'
say "controller after step 1:"
schedules

# Step 2: the EDID page and its button.
say "step 2: \"EDID Re-enumeration\", \"Re-enumeration Now!\", password twice, \"Confirmed\""
before=$(packets)
focus "$brimlet_win"
keys Tab Tab                            # past "Quit", back to the list
keys End Tab                            # third page, its button
sleep 0.3
shoot "$brimlet_win" brimlet-edid.png
keys space
answer_password
wait_for 150 test "$(packets)" -ge $((before + 4)) || fail "the EDID emulator did not receive the four packets"
say "EDID emulator received:"
tail -n 4 "$demo/edid.log" | sed 's/^/          /'
say "controller after step 2 (unchanged):"
schedules
sleep 0.5
shoot "$tamsel_win" tamsel.png

# Brimlet ends through its "Quit" button, which saves the slots.
focus "$brimlet_win"
keys Tab space
for _ in $(seq 100); do kill -0 "$brimlet_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$brimlet_pid" 2>/dev/null && fail "Brimlet did not quit"
brimlet_status=0
wait "$brimlet_pid" || brimlet_status=$?
[ "$brimlet_status" = 0 ] || say "note: Brimlet exited with status $brimlet_status (see $demo/controller/brimlet.log)"
grep -q "^PwrOnHour=7" "$demo/controller/Brimlet.ini" || fail "Brimlet did not save slot 2 at exit"
say "Brimlet saved its slots in $demo/controller/Brimlet.ini"

stop_all
say "stopped everything the demo started"
say "done: screenshots in $shots"
for shot in "$shots"/*.png; do printf '          %s\n' "${shot##*/}"; done
