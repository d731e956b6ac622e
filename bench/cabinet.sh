#!/bin/sh
# Cabinet benchmark: ~200 MB of ledger-like data (dBase-like tables, text
# registers, some incompressible attachments), packed and unpacked by qvcab
# (MSZIP and LZX), gcab (MSZIP only: it cannot write LZX), cabextract, 7zz and
# bsdtar. Prints wall time, MB/s, compression ratio and peak memory for each,
# the LZX targets, and what reading the new archive back costs against making
# it ("Twórz archiwum" checks every archive before it replaces the old one;
# qvcab test runs that same check). Not a test: it prints figures and checks
# that every extraction gives back the data.
#
#   bench/cabinet.sh [MEGABYTES]      (default 200)
# QV_BENCH_RUNS:  runs per step, the fastest counts (default 3)
# QV_BENCH_BUILD: build folder for a Release qvcab (default build-bench)
# QV_BENCH_DIR:   scratch folder (default a new one under /tmp, removed after)
set -eu
MB=${1:-200}
RUNS=${QV_BENCH_RUNS:-3}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${QV_BENCH_BUILD:-$ROOT/build-bench}
if [ -n "${QV_BENCH_DIR:-}" ]; then
    WORK=$QV_BENCH_DIR
    mkdir -p "$WORK"
else
    WORK=$(mktemp -d /tmp/qvbench.XXXXXX)
    trap 'rm -rf "$WORK"' EXIT
fi

for tool in gcab cabextract 7zz bsdtar python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$BUILD" -j2 --target qvcab >/dev/null
QVCAB=$BUILD/tools/qvcab/qvcab

echo "generating ${MB} MB of ledger-like data in $WORK/data ..."
python3 - "$WORK/data" "$MB" <<'PY'
import os, random, struct, sys
root, total = sys.argv[1], int(sys.argv[2]) * 1000 * 1000
rnd = random.Random(2005)
names = ["KOWALSKI JAN", "NOWAK ANNA", "ZAKLAD USLUG SP. Z O.O.", "PHU MAREK", "HURTOWNIA WISLA",
         "BIURO RACHUNKOWE", "PIEKARNIA", "TRANSPORT KRAJOWY", "SKLEP SPOZYWCZY", "APTEKA POD ORLEM"]
accounts = ["%03d-%02d-%03d" % (rnd.randrange(100, 900), rnd.randrange(100), rnd.randrange(1000)) for _ in range(400)]
companies = 8
per_company = total // companies
def dbf(path, size):
    reclen = 128
    count = max(1, (size - 32 - 33) // reclen)
    fields = [(b"DATA", b"D", 8), (b"KONTO", b"C", 12), (b"OPIS", b"C", 40), (b"KONTRAHENT", b"C", 30),
              (b"WINIEN", b"N", 14), (b"MA", b"N", 14), (b"NRDOK", b"C", 9)]
    with open(path, "wb") as f:
        hlen = 32 + 32 * len(fields) + 1
        f.write(struct.pack("<BBBBIHH20x", 3, 105, 3, 3, count, hlen, reclen))
        for n, t, l in fields:
            f.write(n.ljust(11, b"\0") + t + b"\0\0\0\0" + bytes([l, 2 if t == b"N" else 0]) + b"\0" * 14)
        f.write(b"\r")
        buf = []
        for i in range(count):
            amount = rnd.randrange(1, 10**7) / 100
            dr = rnd.random() < 0.5
            rec = (b" " + b"2005%02d%02d" % (rnd.randrange(1, 13), rnd.randrange(1, 29)) +
                   rnd.choice(accounts).encode().ljust(12) +
                   (b"FAKTURA VAT NR %d/%d" % (rnd.randrange(1, 999), 2005)).ljust(40) +
                   rnd.choice(names).encode().ljust(30) +
                   (b"%14.2f" % amount if dr else b" " * 14) + (b" " * 14 if dr else b"%14.2f" % amount) +
                   (b"%09d" % i))
            buf.append(rec)
            if len(buf) == 4096:
                f.write(b"".join(buf)); buf = []
        f.write(b"".join(buf) + b"\x1a")
def text(path, size):
    with open(path, "wb") as f:
        written = 0
        while written < size:
            lines = []
            for _ in range(2000):
                lines.append(("%s  %-12s %-30s %12.2f PLN\r\n" % ("2005-%02d-%02d" % (rnd.randrange(1, 13), rnd.randrange(1, 29)),
                              rnd.choice(accounts), rnd.choice(names), rnd.randrange(1, 10**7) / 100)).encode())
            chunk = b"".join(lines)
            f.write(chunk); written += len(chunk)
for c in range(1, companies + 1):
    d = os.path.join(root, "FIRMA%02d" % c)
    os.makedirs(d, exist_ok=True)
    dbf(os.path.join(d, "DZIENNIK.DBF"), per_company * 55 // 100)
    dbf(os.path.join(d, "KONTA.DBF"), per_company * 10 // 100)
    text(os.path.join(d, "REJESTR.TXT"), per_company * 25 // 100)
    with open(os.path.join(d, "SKANY.BIN"), "wb") as f:
        f.write(rnd.randbytes(per_company * 8 // 100))
    for k in range(20):
        with open(os.path.join(d, "MALY%02d.DAT" % k), "wb") as f:
            f.write(rnd.randbytes(rnd.randrange(0, 3000)) if k % 3 == 0 else (b"%d;" % k) * rnd.randrange(0, 4000))
PY
DATA_BYTES=$(du -sb "$WORK/data" | cut -f1)

# measure NAME INPUT_BYTES OUTPUT_FILE_OR_EMPTY SCRATCH COMMAND...
# SCRATCH is removed before every run; the fastest run and the largest peak
# memory are reported.
measure() {
    name=$1; in_bytes=$2; out=$3; scratch=$4; shift 4
    : >"$WORK/times.txt"
    i=0
    while [ "$i" -lt "$RUNS" ]; do
        rm -rf "$scratch"
        sync
        if ! /usr/bin/time -v -o "$WORK/time.txt" "$@" >"$WORK/cmd.log" 2>&1; then
            echo "$name failed:"; cat "$WORK/cmd.log"; exit 1
        fi
        cat "$WORK/time.txt" >>"$WORK/times.txt"
        i=$((i + 1))
    done
    python3 - "$name" "$in_bytes" "$out" "$DATA_BYTES" "$WORK/times.txt" <<'PY'
import os, re, sys
name, in_bytes, out, data_bytes, tf = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4]), sys.argv[5]
t = open(tf).read()
secs = min(int(h or 0) * 3600 + int(m) * 60 + float(s) for h, m, s in
           re.findall(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (?:(\d+):)?(\d+):([\d.]+)", t))
rss = max(int(k) for k in re.findall(r"Maximum resident set size \(kbytes\): (\d+)", t)) / 1024
ratio = ""
if out:
    size = sum(os.path.getsize(os.path.join(os.path.dirname(out), f)) for f in os.listdir(os.path.dirname(out))
               if f.startswith(os.path.splitext(os.path.basename(out))[0]) and f.endswith(".cab"))
    ratio = "%.2f%%" % (100.0 * size / data_bytes)
print("%-24s %8.2f s %9.1f MB/s %10s %8.1f MB" % (name, secs, in_bytes / 1e6 / max(secs, 1e-6), ratio, rss))
open(os.path.join(os.path.dirname(tf), "last.secs"), "w").write("%.3f" % secs)
PY
}

check() {
    if ! diff -r "$WORK/data" "$1" >/dev/null; then
        echo "extracted data differs: $1"; exit 1
    fi
    rm -rf "$1"
}

echo "data: $DATA_BYTES bytes in $(find "$WORK/data" -type f | wc -l) files"
printf "%-24s %10s %14s %10s %11s\n" "step" "time" "throughput" "cab/data" "peak RSS"
measure "qvcab create --mszip" "$DATA_BYTES" "$WORK/q/q.cab" "$WORK/q" \
    sh -c "mkdir -p '$WORK/q' && '$QVCAB' create '$WORK/q/q.cab' --mszip '$WORK'/data/FIRMA*"
cp "$WORK/last.secs" "$WORK/create.secs"
FILES=$(cd "$WORK/data" && find . -type f | sed 's|^\./||' | sort)
measure "qvcab create --lzx" "$DATA_BYTES" "$WORK/l/l.cab" "$WORK/l" \
    sh -c "mkdir -p '$WORK/l' && '$QVCAB' create '$WORK/l/l.cab' --lzx '$WORK'/data/FIRMA*"
measure "gcab -c -z" "$DATA_BYTES" "$WORK/g/g.cab" "$WORK/g" \
    sh -c "mkdir -p '$WORK/g' && cd '$WORK/data' && gcab -c -z '$WORK/g/g.cab' $(echo $FILES)"
measure "qvcab extract" "$DATA_BYTES" "" "$WORK/x-qvcab" "$QVCAB" extract "$WORK/q/q.cab" "$WORK/x-qvcab"
check "$WORK/x-qvcab"
measure "cabextract (our cab)" "$DATA_BYTES" "" "$WORK/x-cabextract" cabextract -q -d "$WORK/x-cabextract" "$WORK/q/q.cab"
check "$WORK/x-cabextract"
measure "bsdtar -x (our cab)" "$DATA_BYTES" "" "$WORK/x-bsdtar" sh -c "mkdir -p '$WORK/x-bsdtar' && cd '$WORK/x-bsdtar' && bsdtar -xf '$WORK/q/q.cab'"
check "$WORK/x-bsdtar"
measure "qvcab extract (gcab cab)" "$DATA_BYTES" "" "$WORK/x-qvcab-g" "$QVCAB" extract "$WORK/g/g.cab" "$WORK/x-qvcab-g"
check "$WORK/x-qvcab-g"
measure "cabextract (gcab cab)" "$DATA_BYTES" "" "$WORK/x-cabextract-g" cabextract -q -d "$WORK/x-cabextract-g" "$WORK/g/g.cab"
check "$WORK/x-cabextract-g"
measure "qvcab test" "$DATA_BYTES" "" "$WORK/none" "$QVCAB" test "$WORK/q/q.cab"
cp "$WORK/last.secs" "$WORK/test.secs"
python3 - "$WORK/create.secs" "$WORK/test.secs" <<'PY'
import sys
create, check = (float(open(f).read()) for f in sys.argv[1:3])
print("read-back check against create, same data: %.2f s / %.2f s = %.1f%% more time" %
      (check, create, 100.0 * check / max(create, 1e-6)))
PY
# Our reader reads LZX once it has the decoder; until then it says so.
if "$QVCAB" extract "$WORK/l/l.cab" "$WORK/x-qvcab-l" >"$WORK/cmd.log" 2>&1; then
    rm -rf "$WORK/x-qvcab-l"
    measure "qvcab extract (LZX)" "$DATA_BYTES" "" "$WORK/x-qvcab-l" "$QVCAB" extract "$WORK/l/l.cab" "$WORK/x-qvcab-l"
    check "$WORK/x-qvcab-l"
else
    rm -rf "$WORK/x-qvcab-l"
    printf "%-24s %10s   (%s)\n" "qvcab extract (LZX)" "n/a" "$(tr -d '\n' <"$WORK/cmd.log")"
fi
measure "cabextract (LZX cab)" "$DATA_BYTES" "" "$WORK/x-cabextract-l" cabextract -q -d "$WORK/x-cabextract-l" "$WORK/l/l.cab"
check "$WORK/x-cabextract-l"
measure "7zz x (LZX cab)" "$DATA_BYTES" "" "$WORK/x-7zz-l" 7zz x -y -bd -o"$WORK/x-7zz-l" "$WORK/l/l.cab"
check "$WORK/x-7zz-l"

python3 - "$WORK/l/l.cab" "$WORK/q/q.cab" <<'PY'
import os, sys
lzx, mszip = (os.path.getsize(p) for p in sys.argv[1:3])
print("LZX cabinet: %d bytes, %.3f x our MSZIP (%d bytes); target <= 0.88" % (lzx, lzx / mszip, mszip))
PY
echo "targets: qvcab create --lzx >= 8 MB/s, LZX extraction >= 150 MB/s, peak RSS < 64 MB"
