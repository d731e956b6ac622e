#!/usr/bin/env bash
# Drives qvarchiwizator.exe's window under Wine as a user would, on a virtual
# X display, with key presses only:
#   - started without arguments on the demo data in C:\LDG_2005, the window
#     shows the register with its Polish names, the last company current;
#   - Space, "+", "-" and the keypad's "+" mark companies (read back from the
#     grid through the system's list-view calls, tools/wintest/qvwintext);
#   - "Twórz archiwum" from the menu asks with "Tak"/"Nie", Alt+T makes the
#     archive, which cabextract extracts byte for byte;
#   - "Odtwórz z archiwum ..." names the company in Polish; Enter keeps the
#     default "Nie" and nothing changes; Alt+T twice brings the company back;
#   - closing the window leaves both windows' places in the settings file;
#   - closing it by its close button while a restore or an archive is at
#     work asks first: "Nie" lets the run finish, "Tak" stops it and ends the
#     program cleanly, the old archive intact, the company wholly old or new.
# Writes a screenshot of the window (main-window-windows.png) into WORK.
#
#   windows-window.sh BIN WORK
#
# First it runs the window's unit tests (test_win32window.exe, when BIN holds
# it), which need a display and are skipped by CTest's run without one.
#
# BIN holds qvarchiwizator.exe, qvdemo.exe and qvwintext.exe. The drive uses
# a Wine prefix of its own, started on its display: a prefix first started
# without a display keeps its desktop without one. Every wait has a time limit.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(realpath "$1")
work=$2
mkdir -p "$work"
work=$(realpath "$work")

missing=()
command -v Xvfb >/dev/null || missing+=(xvfb)
command -v xdotool >/dev/null || missing+=(xdotool)
command -v import >/dev/null || missing+=(imagemagick)
command -v cabextract >/dev/null || missing+=(cabextract)
# Wine's own fonts: the frame's buttons are drawn in its Marlett.
[[ -d /usr/share/wine/fonts ]] || missing+=(fonts-wine)
if ((${#missing[@]})); then
  echo "== Installing ${missing[*]}"
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

failures=0
ok() { echo "  ok: $*"; }
fail() { echo "  FAILED: $*" >&2; failures=$((failures + 1)); }
die() {
  echo "  FAILED: $*" >&2
  [[ -n ${DISPLAY:-} ]] && import -window root "$work/failure.png" 2>/dev/null && echo "  (the screen: $work/failure.png)" >&2
  exit 1
}

export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINEPREFIX="$(mktemp -d /tmp/qvwindow.XXXXXX)"
drive_c="$WINEPREFIX/drive_c"
data="$drive_c/LDG_2005"
install="$work/install"
archive="$drive_c/archiwum/okno.cab"
title='qvArchiwizator *.cab'
rm -rf "$install" "$work/FIRMA1.before" "$work/FIRMA1.changed" "$work/FIRMA1.archived" "$work/failure.png"
mkdir -p "$install"
cp "$bin/qvarchiwizator.exe" "$install/"

# A display of our own; Wine draws the windows' frames itself (no window
# manager runs), so a screenshot shows the window as on Windows.
xvfb_pid=""
app_pid=""
cleanup() {
  [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
exec {dfd}<> <(:)
Xvfb -displayfd "$dfd" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
display=""
for _ in $(seq 100); do
  read -r -t 0.1 display <&"$dfd" || true
  [[ -n $display ]] && break
done
[[ -n $display ]] || die "Xvfb did not start (see $work/xvfb.log)"
export DISPLAY=":$display"
echo "== Wine: a fresh prefix on display $DISPLAY"
wine wineboot --init >/dev/null 2>&1 || true
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
# The frame's buttons are glyphs of Wine's Marlett font.
cp /usr/share/wine/fonts/marlett.ttf "$drive_c/windows/Fonts/" 2>/dev/null || true
mkdir -p "$drive_c/archiwum"

# until SECONDS WHAT COMMAND...: runs COMMAND until it succeeds, at most SECONDS.
until_ok() {
  local limit=$1 what=$2
  shift 2
  local end=$((SECONDS + limit))
  until "$@"; do
    ((SECONDS < end)) || die "$what (waited ${limit} s)"
    sleep 0.2
  done
}
shown() { wine "$bin/qvwintext.exe" "$title" 2>/dev/null | tr -d '\r' >"$work/window.txt"; }
grid_rows() { shown && [[ $(grep -c '^ROW ' "$work/window.txt") == "$1" ]]; }
row() { grep "^ROW $1:" "$work/window.txt"; }
marks() { shown && [[ $(grep '^ROW ' "$work/window.txt" | awk -F'[:|]' '{gsub(/ /, "", $2); printf "%s ", $2}') == "$1" ]]; }
dialog() { wine "$bin/qvwintext.exe" --dialog 2>/dev/null | tr -d '\r' >"$work/dialog.txt"; }
no_dialog() { ! dialog; }
# The log windows' titles begin "Zawartość archiwum"; ASCII only on Wine's
# command line, whatever the locale.
log_window() { wine "$bin/qvwintext.exe" 'Zawarto' >/dev/null 2>&1; }
no_log_window() { ! log_window; }
log_done() { wine "$bin/qvwintext.exe" 'Zawarto' 2>/dev/null | grep -q -- "$1"; }
first_current() { shown && row 0 | grep -q current; }
second_question() { dialog && grep -q 'jeszcze jeden raz' "$work/dialog.txt"; }
firma1_back() { diff -r "$work/FIRMA1.before" "$data/FIRMA1" >/dev/null 2>&1; }
keys() { xdotool key --delay 60 "$@"; }

if [[ -f $bin/test_win32window.exe ]]; then
  echo "== The window's unit tests on this display"
  wine "$bin/test_win32window.exe" >"$work/unit.log" 2>&1 || { cat "$work/unit.log" >&2; die "the window's unit tests failed"; }
  grep -q '^\[  SKIPPED \]' "$work/unit.log" && { cat "$work/unit.log" >&2; die "the window's unit tests were skipped"; }
  ok "$(grep '^\[  PASSED  \]' "$work/unit.log" | tr -d '\r')"
fi

echo "== Demo data in C:\\LDG_2005"
rm -rf "$data"
wine "$bin/qvdemo.exe" 'C:\LDG_2005' >/dev/null
printf '[Main]\r\nFN_cab_Text=C:\\archiwum\\okno.cab\r\nDirectoryEdit_LDG_Text=C:\\LDG_2005\r\n' >"$install/qvarchiwizator.INI"

echo "== The window, started without arguments"
wine "$install/qvarchiwizator.exe" >"$work/program.log" 2>&1 &
app_pid=$!
main_window() { xdotool search --name '^qvArchiwizator \*\.cab$' >/dev/null 2>&1; }
until_ok 60 "no window titled \"$title\"" main_window
until_ok 30 "the grid never showed the register's 12 companies" grid_rows 12
ok "the window is open with 12 companies"
missing_names=0
for name in 'Biuro Rachunkowe Małgorzata' 'Zakład Stolarski Łukasz Wąs' 'Hurtownia Łęg sp. z o.o.' \
            'Gospodarstwo Źródło' 'Usługi Transportowe Ćwik' 'Fundacja Pomocy Żakom'; do
  grep -qF "| $name |" "$work/window.txt" || { fail "the grid lacks \"$name\""; missing_names=1; }
done
((missing_names)) || ok "the grid shows the Polish names (Łęg, Źródło, Ćwik, Żakom, ...)"
if row 11 | grep -q '\[current\]'; then ok "the last company is current"; else fail "the last company is not current"; fi

echo "== Marks from the keyboard"
keys Up Up space Up Up Up space
until_ok 10 "Space did not mark the companies (grid: $(grep -c Tak "$work/window.txt") marked)" \
  marks 'nie nie nie nie nie nie Tak nie nie Tak nie nie '
ok "Space marks the current company"
sleep 0.5
geometry=$(xdotool search --name '^qvArchiwizator \*\.cab$' getwindowgeometry --shell | tr '\n' ' ')
eval "$geometry"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$work/main-window-windows.png" \
  && ok "screenshot: $work/main-window-windows.png"
keys minus
until_ok 10 "\"-\" did not unmark every company" marks 'Nie Nie Nie Nie Nie Nie Nie Nie Nie Nie Nie Nie '
keys plus
until_ok 10 "\"+\" did not mark every company" marks 'Tak Tak Tak Tak Tak Tak Tak Tak Tak Tak Tak Tak '
keys minus KP_Add
until_ok 10 "the keypad's \"+\" did not mark every company" marks 'Tak Tak Tak Tak Tak Tak Tak Tak Tak Tak Tak Tak '
ok "\"-\", \"+\" and the keypad's \"+\" unmark and mark every company"

echo "== \"Twórz archiwum\" from the menu"
keys alt+a Down Return
until_ok 20 "no question before the archive is made" dialog
if grep -q '^Button: &Tak$' "$work/dialog.txt" && grep -q '^Button: &Nie$' "$work/dialog.txt"; then
  ok "the question reads \"Tak\"/\"Nie\": $(grep '^Static: .' "$work/dialog.txt" | tail -1 | cut -c9-)"
else
  fail "the question's buttons are not Tak/Nie: $(grep '^Button' "$work/dialog.txt" | tr '\n' ' ')"
fi
keys alt+t
until_ok 120 "the log window never said the run ended" log_done 'Koniec operacji'
[[ -f $archive ]] || die "no archive at $archive"
ok "the archive was made: $(stat -c %s "$archive") bytes"
rm -rf "$work/extracted"
cabextract -q -d "$work/extracted" "$archive" || die "cabextract could not read the archive"
python3 scripts/same-companies.py "$work/extracted" "$data" || die "cabextract's files differ from the data"
ok "cabextract extracts it byte for byte"
keys Escape
until_ok 20 "Escape did not close the finished log window" no_log_window
ok "Escape closes the finished log window"
# A company without a folder (LEG) was not archived and keeps its mark.
shown
if ! grep ': Tak |' "$work/window.txt" | grep -qv '| LEG |'; then
  ok "the completed run unmarked the archived companies"
else
  fail "marks after the run: $(grep ': Tak |' "$work/window.txt" | tr '\n' ' ')"
fi

echo "== \"Odtwórz z archiwum ...\" for the first company"
cp -a "$data/FIRMA1" "$work/FIRMA1.before"
keys Home
until_ok 10 "Home did not make the first company current" first_current
restore_menu() { keys alt+a Down Down Down Return; }
# The restore asked for and both questions answered "Tak".
restore_confirmed() {
  restore_menu
  until_ok 20 "no first question before the restore" dialog
  keys alt+t
  until_ok 20 "no second question before the restore" second_question
  keys alt+t
}
restore_menu
until_ok 20 "no question before the restore" dialog
if grep -q 'dla firmy Biuro Rachunkowe Małgorzata' "$work/dialog.txt"; then
  ok "the question names the company in Polish"
else
  fail "the question does not name \"Biuro Rachunkowe Małgorzata\": $(grep '^Static: .' "$work/dialog.txt" | tr '\n' ' ')"
fi
echo 'zmieniony' >"$data/FIRMA1/KSIEGA.DBF"
rm -f "$data/FIRMA1/PARAM.DAT"
cp -a "$data/FIRMA1" "$work/FIRMA1.changed"
keys Return
until_ok 20 "Enter did not answer the question" no_dialog
sleep 1
if diff -r "$work/FIRMA1.changed" "$data/FIRMA1" >/dev/null && no_log_window; then
  ok "Enter answers the default \"Nie\": nothing restored"
else
  fail "Enter at the question changed the company folder"
fi
restore_confirmed
until_ok 120 "the company was not brought back" firma1_back
ok "Alt+T twice brings FIRMA1 back byte for byte"
until_ok 60 "the restore's log window never said the run ended" log_done 'odtwarzanie z Archiwum'
sleep 1
keys Escape
until_ok 20 "Escape did not close the restore's log window" no_log_window

# ends_cleanly WHAT: after WHAT the program ends within 60 s, with status 0
# and no fault reported by Wine.
ends_cleanly() {
  local status=0 end=$((SECONDS + 60))
  while kill -0 "$app_pid" 2>/dev/null; do
    ((SECONDS < end)) || die "the program did not end within 60 s after $1"
    sleep 0.2
  done
  wait "$app_pid" || status=$?
  app_pid=""
  if ((status == 0)) && ! grep -qiE 'unhandled|page fault|exception' "$work/program.log"; then
    ok "$1 ends the program (status 0)"
  else
    fail "after $1 the program ended with status $status: $(tr '\n' ' ' <"$work/program.log")"
  fi
}

echo "== Closing the window"
keys alt+F4
ends_cleanly "Alt+F4"
ini="$install/qvarchiwizator.INI"
section_keys() { tr -d '\r' <"$ini" | awk -v s="[$1]" '/^\[/{on = ($0 == s)} on'; }
for section in Main Okno_Statusu; do
  lines=$(section_keys "$section")
  norm=$(grep '^NormPos=' <<<"$lines" | cut -d= -f2 || true)
  if grep -q '^ShowCmd=1$' <<<"$lines" && grep -q '^PixelsPerInch=' <<<"$lines" &&
     grep -q '^NormPos([0-9]*x[0-9]*)=' <<<"$lines" && [[ $norm =~ ^-?[0-9]+,-?[0-9]+,-?[0-9]+,-?[0-9]+$ ]]; then
    IFS=, read -r l t r b <<<"$norm"
    if ((r > l && b > t)); then ok "[$section] holds the window's place: NormPos=$norm"
    else fail "[$section] NormPos=$norm is no rectangle"; fi
  else
    fail "[$section] lacks the placement keys: $(tr '\n' ' ' <<<"$lines")"
  fi
done
if section_keys Main | grep -q '^FN_cab_Text=C:\\archiwum\\okno.cab$'; then ok "[Main] keeps the archive field"
else fail "[Main] lost the archive field"; fi

echo "== Closing the window during a run"
# A thousand files in FIRMA1: its runs are still at work under Wine when the
# main window's close button is clicked.
python3 - "$data/FIRMA1" <<'EOF'
import os, random, sys
rnd = random.Random(7)
for i in range(1000):
    with open(os.path.join(sys.argv[1], "D%04d.DBF" % i), "wb") as f:
        f.write(bytes(rnd.getrandbits(8) for _ in range(64)) * 32)
EOF
wine "$install/qvarchiwizator.exe" --archive --all --data 'C:\LDG_2005' --output 'C:\archiwum\okno.cab' --yes \
  >"$work/archive-cli.log" 2>&1 || die "the command line did not make the archive (see $work/archive-cli.log)"
rm -rf "$work/FIRMA1.archived" "$work/FIRMA1.changed" "$work/okno.cab.before"
cp -a "$data/FIRMA1" "$work/FIRMA1.archived"
cp -a "$archive" "$work/okno.cab.before"
start_window() {
  wine "$install/qvarchiwizator.exe" >"$work/program.log" 2>&1 &
  app_pid=$!
  until_ok 60 "no window titled \"$title\"" main_window
  until_ok 30 "the grid never showed the register's 12 companies" grid_rows 12
}
# click_caption TITLE FROM_RIGHT DOWN: a click on the frame Wine draws for
# the window whose title matches TITLE (a regular expression).
click_caption() {
  eval "$(xdotool search --name "$1" getwindowgeometry --shell)"
  xdotool mousemove $((X + WIDTH - $2)) $((Y + $3)) click 1
}
# Where Wine draws the frame's close button.
click_close() { click_caption '^qvArchiwizator \*\.cab$' 14 12; }
closing_question() { dialog && grep -q 'Trwa operacja na archiwum' "$work/dialog.txt"; }
restore_first() {
  keys Home
  until_ok 10 "Home did not make the first company current" first_current
  restore_confirmed
  until_ok 20 "the restore's log window did not open" log_window
}
staging_left() { compgen -G "$data/.qvodtworz-*" >/dev/null; }

start_window
restore_first
click_close
until_ok 20 "closing during the restore asked nothing (did it end first?)" closing_question
ok "closing during the restore asks: $(sed -n '/^Static: Trwa/,${s/^Static: //;p}' "$work/dialog.txt" | tr '\n' ' ')"
keys Return
until_ok 120 "after \"Nie\" the restore never ended" log_done 'odtwarzanie z Archiwum'
if kill -0 "$app_pid" 2>/dev/null && diff -r "$work/FIRMA1.archived" "$data/FIRMA1" >/dev/null && ! staging_left; then
  ok "Enter keeps \"Nie\": the program goes on and the restore finishes whole"
else
  fail "after \"Nie\" the program ended or FIRMA1 differs from the archive"
fi
# The question gave the main window the focus back: a click on the part of
# the log window's caption that the main window leaves uncovered brings it
# forward for Escape.
click_caption '^Zawarto' 120 10
sleep 0.5
keys Escape
until_ok 20 "Escape did not close the restore's log window" no_log_window

keys plus
until_ok 10 "\"+\" did not mark every company" marks 'Tak Tak Tak Tak Tak Tak Tak Tak Tak Tak Tak Tak '
keys alt+a Down Return
until_ok 20 "no question before the archive is made" dialog
keys alt+t
until_ok 20 "the archive's log window did not open" log_window
click_close
until_ok 20 "closing while the archive is made asked nothing (did it end first?)" closing_question
keys alt+t
ends_cleanly "\"Tak\" while the archive is made"
if cmp -s "$work/okno.cab.before" "$archive" && [[ -z $(find "$drive_c/archiwum" -name '*.tmp') ]]; then
  ok "the old archive is intact and no temporary file is left"
else
  fail "the stopped run changed the archive or left a temporary file: $(ls "$drive_c/archiwum" | tr '\n' ' ')"
fi

for f in "$data"/FIRMA1/D*.DBF; do echo 'zmieniony' >"$f"; done
cp -a "$data/FIRMA1" "$work/FIRMA1.changed"
start_window
restore_first
sleep 2
click_close
until_ok 20 "closing late in the restore asked nothing (did it end first?)" closing_question
keys alt+t
ends_cleanly "\"Tak\" during the restore"
if staging_left; then
  fail "a staging folder was left in the data folder"
elif diff -r "$work/FIRMA1.archived" "$data/FIRMA1" >/dev/null; then
  ok "FIRMA1 is wholly the archive's (the restore was already moving its files)"
elif diff -r "$work/FIRMA1.changed" "$data/FIRMA1" >/dev/null; then
  ok "FIRMA1 is wholly as it was before the restore"
else
  fail "FIRMA1 is mixed after the stopped restore"
fi

if ((failures)); then
  echo "$failures check(s) of the window failed." >&2
  exit 1
fi
echo "The window's drive under Wine passed."
