#!/usr/bin/env bash
# Cabinets across the systems, under Wine: every cabinet qvcab.exe writes
# (LZX, MSZIP and stored, single and spanned) is extracted by cabextract into
# the same bytes and names; qvcab.exe extracts gcab's cabinets and those of
# the Linux qvcab (MSZIP and LZX) into the same bytes; names with Polish
# letters travel both ways.
# Usage: windows-interop.sh QVCAB.EXE LINUX-QVCAB SCRATCH-FOLDER (Wine set up).
set -euo pipefail
exe="$1" lin="$2" dir="$3"
fails=0 checks=0

win() { winepath -w "$1"; }
check() {  # check WHAT COMMAND...: runs it, counts it, says how it went
  local what="$1"
  shift
  checks=$((checks + 1))
  if "$@" >"$dir/last.log" 2>&1; then
    echo "ok    $what"
  else
    echo "FAIL  $what"
    sed 's/^/      /' "$dir/last.log" | tail -n 20
    fails=$((fails + 1))
  fi
}

# The companies: text that compresses, noise that does not, an empty file, a
# sub-folder, Polish letters in folder and file names.
src="$dir/src"
mkdir -p "$src/FIRMA1/PODKATALOG" "$src/Zażółć gęślą"
for i in $(seq 1 4000); do echo "KONTO $i WINIEN MA FAKTURA 2005-03-03 PLN VAT"; done >"$src/FIRMA1/DANE.DBF"
head -c 150000 /dev/urandom >"$src/FIRMA1/PODKATALOG/SZUM.BIN"
: >"$src/FIRMA1/PUSTY"
echo "Zażółć gęślą jaźń" >"$src/Zażółć gęślą/jaźń ŁÓDŹ.txt"
head -c 70000 /dev/urandom >"$src/Zażółć gęślą/Ćma.bin"

same_tree() { diff -r "$1" "$2"; }

n=0
for mode in "--lzx" "--mszip" "--none" "--lzx=15 --max-cabinet 60000" "--mszip --max-cabinet 60000" \
            "--none --max-cabinet 50000"; do
  n=$((n + 1))
  cab="$dir/w$n/ARCH.CAB"
  mkdir -p "$dir/w$n" "$dir/cx$n"
  # shellcheck disable=SC2086
  check "qvcab.exe create $mode" wine "$exe" create "$(win "$cab")" $mode "$(win "$src/FIRMA1")" "$(win "$src/Zażółć gęślą")"
  check "qvcab.exe test ($mode)" wine "$exe" test "$(win "$cab")"
  check "cabextract reads qvcab.exe's cabinet ($mode)" cabextract -q -d "$dir/cx$n" "$cab"
  check "cabextract's files equal the originals ($mode)" same_tree "$src" "$dir/cx$n"
done
check "spanned sets were written" test -f "$dir/w4/ARCH1.CAB" -a -f "$dir/w5/ARCH1.CAB"

# Into a file first: grep -q leaving a pipe early would fail it under pipefail.
listing() {
  wine "$exe" list "$(win "$dir/w1/ARCH.CAB")" >"$dir/list.txt"
  grep 'Zażółć gęślą\\jaźń ŁÓDŹ.txt' "$dir/list.txt"
}
check "qvcab.exe lists Polish names in UTF-8" listing

# gcab's cabinets (stored and MSZIP) read by qvcab.exe.
for z in "" "-z"; do
  cab="$dir/gcab$z.cab"
  (cd "$src" && gcab -c $z "$cab" FIRMA1/DANE.DBF FIRMA1/PODKATALOG/SZUM.BIN FIRMA1/PUSTY)
  mkdir -p "$dir/gx$z"
  check "qvcab.exe extracts gcab's cabinet ${z:-(stored)}" wine "$exe" extract "$(win "$cab")" "$(win "$dir/gx$z")"
  check "gcab's files come out whole ${z:-(stored)}" same_tree "$src/FIRMA1" "$dir/gx$z/FIRMA1"
done

# The Linux qvcab's cabinets, single and spanned, read by qvcab.exe.
for mode in "--mszip" "--lzx" "--mszip --max-cabinet 60000" "--lzx=16 --max-cabinet 60000"; do
  n=$((n + 1))
  mkdir -p "$dir/l$n" "$dir/lx$n"
  # shellcheck disable=SC2086
  "$lin" create "$dir/l$n/LIN.CAB" $mode "$src/FIRMA1" "$src/Zażółć gęślą"
  check "qvcab.exe extracts the Linux qvcab's cabinet ($mode)" wine "$exe" extract "$(win "$dir/l$n/LIN.CAB")" "$(win "$dir/lx$n")"
  check "the Linux cabinet's files come out whole ($mode)" same_tree "$src" "$dir/lx$n"
done

echo "$((checks - fails)) passed, $fails failed"
((fails == 0))
