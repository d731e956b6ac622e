#!/usr/bin/env bash
# qvarchiwizator.exe end to end under Wine, as a Windows user runs it: the
# program installed in a folder of its own with its settings file beside it,
# the ledger's data in C:\LDG_2005 (the default data folder), and
#   - --archive --all: cabextract extracts the archive byte for byte;
#   - --test: a truncated copy fails (status 1), also started from cmd;
#   - --restore: a damaged company comes back whole;
#   - --upload: the archive reaches a local FTP server byte for byte, in plain
#     text and with TLS required (the server's test authority made trusted in
#     this prefix's root store, as a real one is on a user's Windows);
#   - the README's scheduled line, started with no console at all (as the
#     Task Scheduler starts it; Wine's own scheduler runs no tasks), writes
#     its --log, keeps the archive and sends it.
#
#   scripts/windows-e2e.sh BIN WORK
# BIN holds qvarchiwizator.exe, qvdemo.exe, qvnoconsole.exe, qvtrustroot.exe;
# WORK is a scratch folder. WINEPREFIX must name a prepared prefix with its
# server running (scripts/test-windows.sh does that). Exit status 1 on the
# first check that fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$1
work=$2
drive_c="$WINEPREFIX/drive_c"
install="$drive_c/qvArchiwizator"
data="$drive_c/LDG_2005"
arch="$drive_c/arch"
exe='C:\qvArchiwizator\qvarchiwizator.exe'
password='#(wnto)#'
rm -rf "$install" "$data" "$arch"
mkdir -p "$install" "$arch" "$work"
cp "$bin/qvarchiwizator.exe" "$install/"

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
ok() { echo "ok: $*"; }

# run NAME ARGS...: the program under Wine; its status in $status, its
# streams in $work/NAME.out and $work/NAME.err.
run() {
  local name=$1
  shift
  status=0
  wine "$install/qvarchiwizator.exe" "$@" >"$work/$name.out" 2>"$work/$name.err" || status=$?
}
expect_status() {
  local want=$1 what=$2 name=$3
  if [[ $status == "$want" ]]; then
    ok "$what (status $status)"
  else
    fail "$what: status $status, expected $want"
    sed 's/^/  | /' "$work/$name.out" "$work/$name.err" >&2
  fi
}

# settings KEY=VALUE...: the settings file beside the program, [Main] only,
# written with CRLF as a Windows editor would.
settings() {
  {
    printf '[Main]\r\n'
    for kv in "$@"; do printf '%s\r\n' "$kv"; done
  } >"$install/qvarchiwizator.INI"
}

# same_as_data CABINET: every file of every company folder (top level, as the
# program archives them) extracted by cabextract equals the one on disk, and
# no company and no file is missing or extra.
same_as_data() {
  local out="$work/extracted"
  rm -rf "$out"
  cabextract -q -d "$out" "$1" || return 1
  python3 scripts/same-companies.py "$out" "$data"
}

# An FTP server on 127.0.0.1 for the program's default user; its port in
# $ftp_port, what it stores in $work/ftp-*/dane.
ftp_pids=()
start_ftp() {
  local name=$1
  shift
  mkdir -p "$work/$name"
  /usr/bin/python3 tests/support/ftpserver.py --root "$work/$name" --password "$password" "$@" \
    >"$work/$name.port" 2>"$work/$name.log" &
  ftp_pids+=($!)
  for _ in $(seq 100); do
    [[ -s "$work/$name.port" ]] && break
    sleep 0.1
  done
  ftp_port=$(head -n 1 "$work/$name.port")
  [[ -n $ftp_port ]] || { echo "the test FTP server did not start:" >&2; cat "$work/$name.log" >&2; exit 1; }
}
stop_ftp() { ((${#ftp_pids[@]})) && kill "${ftp_pids[@]}" 2>/dev/null || true; }
trap stop_ftp EXIT

# stored_equals SERVER FILE: the server holds one file, byte for byte FILE.
stored_equals() {
  local stored=("$work/$1"/dane/*)
  [[ ${#stored[@]} == 1 && -f ${stored[0]} ]] && cmp -s "${stored[0]}" "$2"
}

echo "== Demo data in C:\\LDG_2005"
wine "$bin/qvdemo.exe" 'C:\LDG_2005' >/dev/null
settings

echo "== --archive --all"
run archive --archive --all --output 'C:\arch\wszystko.cab' --yes
expect_status 0 "archive of every company" archive
if same_as_data "$arch/wszystko.cab"; then ok "cabextract reads it byte for byte"; else fail "cabextract's files differ"; fi

echo "== --test"
run test-whole --test 'C:\arch\wszystko.cab'
expect_status 0 "the whole archive tests good" test-whole
size=$(stat -c %s "$arch/wszystko.cab")
head -c $((size * 2 / 3)) "$arch/wszystko.cab" >"$arch/obciete.cab"
run test-cut --test 'C:\arch\obciete.cab'
expect_status 1 "a truncated copy fails the test" test-cut
# cmd's start /wait waits for a window-system program and leaves its status.
status=0
wine cmd /c "start /wait \"\" $exe --test C:\\arch\\obciete.cab & exit %ERRORLEVEL%" >"$work/cmd.out" 2>&1 || status=$?
expect_status 1 "the same from cmd (start /wait, %ERRORLEVEL%)" cmd

echo "== --restore"
cp -a "$data/FIRMA1" "$work/FIRMA1.before"
printf 'zepsute' >"$data/FIRMA1/KSIEGA.DBF"
rm "$data/FIRMA1/PARAM.DAT"
run restore --restore FIRMA1 --from 'C:\arch\wszystko.cab' --yes
expect_status 0 "restore of FIRMA1" restore
if diff -r "$work/FIRMA1.before" "$data/FIRMA1" >/dev/null; then ok "FIRMA1 is back whole"; else fail "FIRMA1 differs after the restore"; fi

echo "== --upload, plain"
start_ftp ftp-plain
settings "host=127.0.0.1" "port=$ftp_port"
run upload-plain --archive --companies FIRMA1 --output 'C:\arch\firma1.cab' --upload --yes
expect_status 0 "archive and upload" upload-plain
if stored_equals ftp-plain "$arch/firma1.cab"; then ok "the server holds it byte for byte"; else fail "the server's copy is missing or differs"; fi

echo "== --upload, TLS required"
mkdir -p "$work/tls"
start_ftp ftp-tls --tls-dir "$work/tls" --tls-required --ca-name "qvArchiwizator e2e authority"
openssl x509 -in "$work/tls/ca.pem" -outform der -out "$work/tls/ca.der"
wine "$bin/qvtrustroot.exe" "$(winepath -w "$work/tls/ca.der")"
settings "host=localhost" "port=$ftp_port" "tls=wymagany"
run upload-tls --archive --companies FIRMA1 --output 'C:\arch\firma1.cab' --upload --yes
expect_status 0 "archive and upload over TLS" upload-tls
if stored_equals ftp-tls "$arch/firma1.cab"; then ok "the server holds it byte for byte"; else fail "the server's copy is missing or differs"; fi
if grep -q "TLS" "$work/upload-tls.out"; then ok "the log names the encryption: $(grep -m1 TLS "$work/upload-tls.out")"; else
  fail "no line about TLS in the upload's log"
fi

echo "== The scheduled line, with no console"
settings "host=127.0.0.1" "port=$(head -n 1 "$work/ftp-plain.port")"
rm -f "$work"/ftp-plain/dane/*
status=0
wine "$bin/qvnoconsole.exe" \
  "\"$exe\" --archive --all --generate-name --keep 7 --upload --log C:\\LDG_2005\\archiwizacja.log" || status=$?
expect_status 0 "the nightly run" noconsole
made=("$data"/Arch*.cab)
if [[ ${#made[@]} == 1 && -f ${made[0]} ]]; then ok "made ${made[0]##*/}"; else fail "no archive with a made name in C:\\LDG_2005"; fi
if [[ -f ${made[0]} ]] && stored_equals ftp-plain "${made[0]}"; then ok "and sent it byte for byte"; else fail "the nightly archive did not reach the server"; fi
if grep -q "Koniec przesyłania" "$data/archiwizacja.log" 2>/dev/null; then
  ok "its log: $(wc -l <"$data/archiwizacja.log") lines, the last: $(tail -n 1 "$data/archiwizacja.log" | tr -d '\r')"
else
  fail "the log file is missing or lacks the upload's end"
fi

if ((failures)); then
  echo "$failures end-to-end check(s) failed" >&2
  exit 1
fi
echo "All end-to-end checks passed."
