#!/usr/bin/env bash
# The Windows packages as a user gets them, under Wine:
#   - qvArchiwizator-VERSION-setup.exe /S installs into Program Files: the
#     programs (byte for byte the release artefacts), czytaj.txt, the
#     uninstaller, a Start-menu shortcut for all users, and the entry of
#     "Programs and Features" (read back with reg query);
#   - the installed qvarchiwizator.exe answers --version and --help, and
#     archives and tests the demo data;
#   - the zip unpacks to the installer's files, byte for byte, and its program
#     runs;
#   - the silent uninstall removes the programs, the shortcut and the entry,
#     and keeps the user's settings in %LOCALAPPDATA%, the data and the
#     archives;
#   - /D= installs elsewhere, and the entry's QuietUninstallString removes it
#     but for a settings file the program wrote beside itself.
#
#   scripts/windows-install.sh PACKAGES VERSION BIN WORK
# PACKAGES holds the installer, the zip and the release artefacts
# qvarchiwizator.exe and qvcab.exe (build/windows); BIN holds qvdemo.exe;
# WORK is a scratch folder. WINEPREFIX must name a prepared prefix with its
# server running (scripts/test-windows.sh does that). Exit status 1 when a
# check fails, each failure named.
set -euo pipefail
packages=$1
version=$2
bin=$3
work=$4
setup="$packages/qvArchiwizator-$version-setup.exe"
zip="$packages/qvArchiwizator-$version-win64.zip"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\qvArchiwizator'
# Wine would otherwise turn the shortcut into a desktop entry in root's home.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winemenubuilder.exe=d"
rm -rf "$work"
mkdir -p "$work"

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
ok() { echo "ok: $*"; }
# A step the following ones cannot do without.
fatal() {
  echo "FAILED: $*" >&2
  echo "The Windows packages' checks stopped there." >&2
  exit 1
}

for f in "$setup" "$zip" "$packages/qvarchiwizator.exe" "$packages/qvcab.exe" "$bin/qvdemo.exe"; do
  [[ -f $f ]] || fatal "$f is missing (target windows_packages, scripts/test-windows.sh)"
done

# unix_path VARIABLE: a Windows folder of the prefix (%ProgramFiles%...) as
# Linux names it.
unix_path() {
  local w
  w=$(wine cmd /c echo "%$1%" 2>/dev/null | tr -d '\r')
  [[ -n $w && $w != "%$1%" ]] || fatal "Wine does not name %$1%"
  winepath -u "$w" 2>/dev/null | sed 's:/$::'
}
program_files=$(unix_path ProgramFiles)
start_menu="$(unix_path ProgramData)/Microsoft/Windows/Start Menu/Programs"
user_settings="$(unix_path LOCALAPPDATA)/qvarchiwizator"
dir="$program_files/qvArchiwizator"
shortcut="$start_menu/qvArchiwizator.lnk"
installed=(qvarchiwizator.exe qvcab.exe czytaj.txt odinstaluj.exe)

# reg_value NAME: a value of the uninstall entry, as reg query prints it
# (empty when the key or the value is missing).
reg_value() {
  wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' |
    awk -v n="$1" '$1 == n { $1 = ""; $2 = ""; sub(/^ +/, ""); print; exit }'
}

# wait_gone PATH...: the uninstaller works from a copy of itself in %TEMP%
# and its first process returns at once, so wait (up to a minute) until the
# files are gone.
wait_gone() {
  for _ in $(seq 120); do
    local left=0
    for p in "$@"; do [[ -e $p ]] && left=1; done
    ((left)) || return 0
    sleep 0.5
  done
  return 1
}

echo "== The installer's own version information"
if python3 - "$setup" "$version" <<'PY'; then ok "the installer names itself and its version"; else fail "the installer's version information"; fi
import sys
data = open(sys.argv[1], "rb").read()
want = ["Instalator programu qvArchiwizator", "ProductVersion", sys.argv[2], "qvArchiwizator"]
missing = [w for w in want if w.encode("utf-16-le") not in data]
if missing:
    print("  not in the installer's resources: %s" % missing)
sys.exit(1 if missing else 0)
PY

echo "== Silent install (/S) into Program Files"
rm -rf "$dir" "$user_settings"
status=0
wine "$setup" /S >"$work/setup.out" 2>&1 || status=$?
((status == 0)) || { sed 's/^/  | /' "$work/setup.out" >&2; fatal "the silent install ended with status $status"; }
for f in "${installed[@]}"; do
  [[ -f $dir/$f ]] || fail "$f is not in $dir"
done
for f in qvarchiwizator.exe qvcab.exe; do
  if cmp -s "$dir/$f" "$packages/$f"; then ok "$f installed, the release artefact byte for byte"; else fail "the installed $f differs from $packages/$f"; fi
done
if grep -q 'qvArchiwizator '"$version" "$dir/czytaj.txt"; then ok "czytaj.txt names version $version"; else fail "czytaj.txt does not name version $version"; fi
if [[ -f $shortcut ]] && python3 -c '
import sys
sys.exit(0 if "qvarchiwizator.exe".encode("utf-16-le") in open(sys.argv[1], "rb").read() else 1)' "$shortcut"; then
  ok "the Start-menu shortcut leads to qvarchiwizator.exe"
else
  fail "no Start-menu shortcut to qvarchiwizator.exe at $shortcut"
fi

echo "== The uninstall entry (reg query $key)"
windir=$(winepath -w "$dir" | tr -d '\r')
check_value() {
  local name=$1 want=$2 got
  got=$(reg_value "$name")
  if [[ $got == "$want" ]]; then ok "$name = $got"; else fail "$name is '$got', expected '$want'"; fi
}
check_value DisplayName qvArchiwizator
check_value DisplayVersion "$version"
check_value InstallLocation "$windir"
check_value DisplayIcon "$windir\\qvarchiwizator.exe,0"
check_value UninstallString "\"$windir\\odinstaluj.exe\""
check_value QuietUninstallString "\"$windir\\odinstaluj.exe\" /S"
[[ -n $(reg_value Publisher) ]] && ok "Publisher = $(reg_value Publisher)" || fail "no Publisher"
# EstimatedSize is in kilobytes: the installed files' size, rounded.
size=$(reg_value EstimatedSize)
kb=$(($(du -cb "${installed[@]/#/$dir/}" | tail -n 1 | cut -f 1) / 1024))
if [[ $size =~ ^0x[0-9a-f]+$ ]] && (($(printf '%d' "$size") >= kb - 2 && $(printf '%d' "$size") <= kb + 2)); then
  ok "EstimatedSize = $((size)) kB (the files: $kb kB)"
else
  fail "EstimatedSize is '$size', the files take $kb kB"
fi

echo "== The installed program"
exe="$dir/qvarchiwizator.exe"
status=0
out=$(wine "$exe" --version 2>&1 | tr -d '\r') || status=$?
if ((status == 0)) && [[ $out == *"$version"* ]]; then ok "--version: $out"; else fail "--version: status $status, '$out'"; fi
status=0
wine "$exe" --help >"$work/help.out" 2>&1 || status=$?
if ((status == 0)) && grep -q -- '--archive' "$work/help.out"; then ok "--help"; else fail "--help: status $status"; sed 's/^/  | /' "$work/help.out" >&2; fi
# The demo data and the archives outside the program's folder, as a user's are.
data="$WINEPREFIX/drive_c/qvinstall/LDG_2005"
rm -rf "$WINEPREFIX/drive_c/qvinstall"
mkdir -p "$WINEPREFIX/drive_c/qvinstall"
wine "$bin/qvdemo.exe" 'C:\qvinstall\LDG_2005' >/dev/null 2>&1 || fatal "qvdemo.exe did not write the demo data"
status=0
wine "$exe" --archive --all --data 'C:\qvinstall\LDG_2005' --output 'C:\qvinstall\wszystko.cab' --yes \
  >"$work/archive.out" 2>&1 || status=$?
if ((status == 0)) && [[ -s $WINEPREFIX/drive_c/qvinstall/wszystko.cab ]]; then
  ok "--archive --all of the demo data"
else
  fail "--archive --all: status $status"
  sed 's/^/  | /' "$work/archive.out" >&2
fi
status=0
wine "$exe" --test 'C:\qvinstall\wszystko.cab' >"$work/test.out" 2>&1 || status=$?
if ((status == 0)); then ok "--test of that archive"; else fail "--test: status $status"; sed 's/^/  | /' "$work/test.out" >&2; fi

echo "== The zip"
unzipped="$work/zip"
if python3 - "$zip" "$unzipped" "qvArchiwizator-$version" <<'PY'; then ok "the zip holds qvArchiwizator-$version/ with the three files"; else fail "the zip's layout"; fi
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = sorted(z.namelist())
want = sorted(sys.argv[3] + "/" + n for n in ("czytaj.txt", "qvarchiwizator.exe", "qvcab.exe"))
if names != want:
    print("  the zip holds %s, expected %s" % (names, want))
    sys.exit(1)
if z.testzip() is not None:
    sys.exit(1)
z.extractall(sys.argv[2])
PY
for f in qvarchiwizator.exe qvcab.exe czytaj.txt; do
  if cmp -s "$unzipped/qvArchiwizator-$version/$f" "$dir/$f"; then ok "the zip's $f is the installer's"; else fail "the zip's $f differs from the installed one"; fi
done
status=0
out=$(wine "$unzipped/qvArchiwizator-$version/qvarchiwizator.exe" --version 2>&1 | tr -d '\r') || status=$?
if ((status == 0)) && [[ $out == *"$version"* ]]; then ok "the unzipped program runs: $out"; else fail "the unzipped program: status $status, '$out'"; fi

echo "== Silent uninstall (/S)"
# The user's own settings, where the program keeps them when Program Files is
# not writable for it.
mkdir -p "$user_settings"
printf '[Main]\r\nhost=ftp.serwis.example\r\n' >"$user_settings/qvarchiwizator.INI"
cp "$user_settings/qvarchiwizator.INI" "$work/settings.before"
status=0
wine "$dir/odinstaluj.exe" /S >"$work/uninstall.out" 2>&1 || status=$?
((status == 0)) || fail "the silent uninstall ended with status $status"
if wait_gone "${installed[@]/#/$dir/}" "$shortcut"; then
  ok "the programs, czytaj.txt, the uninstaller and the shortcut are gone"
else
  fail "left after the uninstall: $(ls "$dir" "$shortcut" 2>&1 | tr '\n' ' ')"
fi
[[ -e $dir ]] && fail "the empty folder $dir is left" || ok "the program's folder is gone"
if wine reg query "$key" >/dev/null 2>&1; then fail "the uninstall entry is left"; else ok "the uninstall entry is gone"; fi
if cmp -s "$user_settings/qvarchiwizator.INI" "$work/settings.before"; then
  ok "the user's settings in %LOCALAPPDATA% are kept"
else
  fail "the user's settings in %LOCALAPPDATA% did not survive the uninstall"
fi
if [[ -f $data/SPISFIRM.DAT && -s $WINEPREFIX/drive_c/qvinstall/wszystko.cab ]]; then
  ok "the data and the archive are kept"
else
  fail "the data or the archive went with the uninstall"
fi

echo "== /D= elsewhere, removed by the entry's QuietUninstallString"
other="$WINEPREFIX/drive_c/Programy/qvArchiwizator"
rm -rf "$WINEPREFIX/drive_c/Programy"
status=0
wine "$setup" /S '/D=C:\Programy\qvArchiwizator' >"$work/setup-d.out" 2>&1 || status=$?
if ((status == 0)) && [[ -f $other/qvarchiwizator.exe && ! -e $dir ]]; then
  ok "installed into C:\\Programy\\qvArchiwizator"
else
  fail "/D=: status $status, $(ls "$other" 2>&1 | tr '\n' ' ')"
fi
check_value InstallLocation 'C:\Programy\qvArchiwizator'
# A settings file the program wrote beside itself (run as administrator) is
# the user's: the uninstall leaves it, and so the folder.
printf '[Main]\r\nport=2121\r\n' >"$other/qvarchiwizator.INI"
quiet=$(reg_value QuietUninstallString)
# "PROGRAM" ARGS, as Windows' own uninstall runs it.
quiet_program=${quiet%\"*}
quiet_program=${quiet_program#\"}
read -r -a quiet_args <<<"${quiet##*\"}"
status=0
if [[ $quiet == \"*\"* ]]; then
  wine "$quiet_program" "${quiet_args[@]}" >"$work/uninstall-d.out" 2>&1 || status=$?
else
  status=unreadable
fi
if ((status == 0)) && wait_gone "$other/qvarchiwizator.exe" "$shortcut" && ! wine reg query "$key" >/dev/null 2>&1; then
  ok "QuietUninstallString removes it"
else
  fail "QuietUninstallString '$quiet': status $status, $(ls "$other" 2>&1 | tr '\n' ' ')"
fi
if [[ $(ls "$other" 2>&1) == qvarchiwizator.INI ]]; then
  ok "the settings file beside the program stays, alone in its folder"
else
  fail "beside the program after the uninstall: $(ls "$other" 2>&1 | tr '\n' ' '), expected qvarchiwizator.INI alone"
fi

if ((failures)); then
  echo "The Windows packages: $failures check(s) failed (above)." >&2
  exit 1
fi
echo "The Windows packages: every check passed."
