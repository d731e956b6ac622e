#!/bin/sh
# The program against qvcab on the same data: "Twórz archiwum" and
# "Odtwórz z archiwum ..." run by the command-line front end and by the real
# window (tools qvdrive, headless), against qvcab doing the same work.
# Two data shapes: the ledger-like mix of bench/cabinet.sh (a few large
# tables, text registers, incompressible scans) and many small companies of
# small, very compressible files. Medians of QV_BENCH_RUNS runs (default 3).
# Not a test: it prints figures and checks that restored data matches.
#
# Create is compared with qvcab create plus qvcab test, because the program
# reads every new archive back before it replaces the old one; restore of the
# largest company (half of the data) with qvcab extract of an archive holding
# only that company. The program's restore makes the company's files durable
# (a file-system sync) before it swaps folders, so qvcab extract followed by
# sync is the like-for-like figure; plain qvcab extract is shown beside it.
# The window's figures are the operation's own time (the window's start-up
# excluded); the others are whole processes.
#
#   bench/program.sh [MEGABYTES]      (default 100, per shape)
# QV_BENCH_RUNS:  runs per step (default 3)
# QV_BENCH_BUILD: build folder with Release binaries (default build-bench)
# QV_BENCH_NOBUILD=1: take the binaries in QV_BENCH_BUILD as they are (e.g.
#                 an older build, for figures before a change)
# QV_BENCH_DIR:   scratch folder (default a new one under /tmp, removed after)
set -eu
MB=${1:-100}
RUNS=${QV_BENCH_RUNS:-3}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${QV_BENCH_BUILD:-$ROOT/build-bench}
if [ -n "${QV_BENCH_DIR:-}" ]; then
    WORK=$QV_BENCH_DIR
    mkdir -p "$WORK"
else
    WORK=$(mktemp -d /tmp/qvprog.XXXXXX)
    trap 'rm -rf "$WORK"' EXIT
fi
command -v python3 >/dev/null || { echo "missing: python3" >&2; exit 1; }

if [ -z "${QV_BENCH_NOBUILD:-}" ]; then
    if [ ! -f "$BUILD/CMakeCache.txt" ]; then
        cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF >/dev/null
    fi
    cmake --build "$BUILD" -j2 --target qvcab qvarchiwizator qvdrive >/dev/null
fi
QVCAB=$BUILD/tools/qvcab/qvcab
PROGRAM=$BUILD/src/app/qvarchiwizator
DRIVE=$BUILD/tools/screenshot/qvdrive
export QT_QPA_PLATFORM=offscreen
export HOME="$WORK/home"  # the program's settings stay in the scratch folder
mkdir -p "$HOME"

# gen SHAPE FOLDER: a data folder with its company register SPISFIRM.DAT.
gen() {
    python3 - "$1" "$2" "$MB" <<'PY'
import os, random, struct, sys
shape, root, total = sys.argv[1], sys.argv[2], int(sys.argv[3]) * 1000 * 1000
rnd = random.Random(2005 if shape == "ledger" else 1999)
names = ["KOWALSKI JAN", "NOWAK ANNA", "ZAKLAD USLUG SP. Z O.O.", "PHU MAREK", "HURTOWNIA WISLA",
         "BIURO RACHUNKOWE", "PIEKARNIA", "TRANSPORT KRAJOWY", "SKLEP SPOZYWCZY", "APTEKA POD ORLEM"]
accounts = ["%03d-%02d-%03d" % (rnd.randrange(100, 900), rnd.randrange(100), rnd.randrange(1000)) for _ in range(400)]

def dbf(path, size, reclen=128):
    count = max(1, (size - 65) // reclen)
    with open(path, "wb") as f:
        f.write(struct.pack("<BBBBIHH20x", 3, 105, 3, 3, count, 65, reclen) + b"\0" * 32 + b"\r")
        buf = []
        for i in range(count):
            amount = rnd.randrange(1, 10**7) / 100
            rec = (b" 2005%02d%02d" % (rnd.randrange(1, 13), rnd.randrange(1, 29)) + rnd.choice(accounts).encode().ljust(12) +
                   (b"FAKTURA VAT NR %d/2005" % rnd.randrange(1, 999)).ljust(40) + rnd.choice(names).encode().ljust(30) +
                   b"%14.2f" % amount + b"%09d" % i)
            buf.append(rec.ljust(reclen)[:reclen])
            if len(buf) == 4096:
                f.write(b"".join(buf)); buf = []
        f.write(b"".join(buf) + b"\x1a")

def text(path, size):
    with open(path, "wb") as f:
        written = 0
        while written < size:
            chunk = b"".join(("2005-%02d-%02d  %-12s %-30s %12.2f PLN\r\n" % (rnd.randrange(1, 13), rnd.randrange(1, 29),
                              rnd.choice(accounts), rnd.choice(names), rnd.randrange(1, 10**7) / 100)).encode()
                             for _ in range(500))
            f.write(chunk); written += len(chunk)

def put(path, size, kind):
    if kind == "dbf": dbf(path, size)
    elif kind == "txt": text(path, size)
    else:
        with open(path, "wb") as f: f.write(rnd.randbytes(size))

# The first company holds half of the data, the others share the rest.
share = lambda i, n: total // 2 if i == 0 else total // 2 // (n - 1)
if shape == "ledger":
    companies = ["FIRMA%02d" % c for c in range(1, 9)]
    plan = lambda per: [("DZIENNIK.DBF", per * 55 // 100, "dbf"), ("KONTA.DBF", per // 10, "dbf"),
                    ("REJESTR.TXT", per // 4, "txt"), ("SKANY.BIN", per * 8 // 100, "bin")] + \
                   [("MALY%02d.DAT" % k, rnd.randrange(0, 3000), "bin" if k % 3 == 0 else "txt") for k in range(20)]
else:
    companies = ["K%04d" % c for c in range(1, 41)]
    def plan(per):
        files, left, k = [], per, 0
        while left > 0:
            kind = rnd.choice(["dbf", "dbf", "txt", "txt", "txt", "bin"])
            size = min(left, rnd.randrange(2000, 60000))
            files.append(("P%04d.%s" % (k, kind.upper()), size, kind)); left -= size; k += 1
        return files
os.makedirs(root, exist_ok=True)
reg = b""
for i, kat in enumerate(companies):
    d = os.path.join(root, kat)
    os.makedirs(d, exist_ok=True)
    for name, size, kind in plan(share(i, len(companies))):
        put(os.path.join(d, name), size, kind)
    rec = bytearray(103)
    firma = ("FIRMA NR %d" % (i + 1)).encode()
    rec[0] = len(firma); rec[1:1 + len(firma)] = firma
    rec[32] = len(kat); rec[33:33 + len(kat)] = kat.encode()
    reg += bytes(rec)
open(os.path.join(root, "SPISFIRM.DAT"), "wb").write(reg)
PY
}

# measure NAME CMD...: median wall time of RUNS runs into $WORK/last.secs.
# A command that prints a number of seconds as its last line (qvdrive) is
# timed by that number.
measure() {
    name=$1; shift
    : >"$WORK/secs.txt"
    i=0
    while [ "$i" -lt "$RUNS" ]; do
        rm -rf "$WORK/out" "$WORK/prog.cab" "$WORK/win.cab"
        mkdir -p "$WORK/out"
        start=$(date +%s.%N)
        if ! "$@" >"$WORK/cmd.log" 2>&1; then
            echo "$name failed:"; cat "$WORK/cmd.log"; exit 1
        fi
        end=$(date +%s.%N)
        own=$(tail -n 1 "$WORK/cmd.log")
        case "$1" in
            "$DRIVE") echo "$own" >>"$WORK/secs.txt" ;;
            *) awk "BEGIN { print $end - $start }" >>"$WORK/secs.txt" ;;
        esac
        i=$((i + 1))
    done
    python3 - "$name" "$DATA_BYTES" "$WORK/secs.txt" "$WORK/last.secs" <<'PY'
import statistics, sys
name, size, tf, out = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
secs = statistics.median(float(x) for x in open(tf).read().split())
print("  %-34s %7.2f s %8.1f MB/s" % (name, secs, size / 1e6 / max(secs, 1e-6)))
open(out, "w").write("%.4f" % secs)
PY
}
secs() { cat "$WORK/last.secs"; }
ratio() {
    python3 -c "import sys; a, b = float(sys.argv[2]), float(sys.argv[3]); t = sys.argv[4] if len(sys.argv) > 4 else ''; print('  %-44s %.3f%s' % (sys.argv[1], a / b, ' (target <= %s)' % t if t else ''))" "$@"
}

for shape in ledger small; do
    DATA=$WORK/data-$shape
    gen "$shape" "$DATA"
    DATA_BYTES=$(du -sb --exclude=SPISFIRM.DAT "$DATA" | cut -f1)
    echo "== $shape: $DATA_BYTES bytes in $(find "$DATA" -type f | wc -l) files, $(ls -d "$DATA"/*/ | wc -l) companies"

    measure "qvcab create --mszip" sh -c "'$QVCAB' create '$WORK/q.cab' --mszip '$DATA'/*/"
    qc=$(secs)
    measure "qvcab test" "$QVCAB" test "$WORK/q.cab"
    qt=$(secs)
    measure "program --archive --all (cli)" "$PROGRAM" --archive --all --data "$DATA" --output "$WORK/prog.cab" --yes
    pa=$(secs)
    measure "Twórz archiwum (window)" "$DRIVE" --archive "$DATA" "$WORK/win.cab"
    wa=$(secs)
    both=$(awk "BEGIN { print $qc + $qt }")
    ratio "cli create / (qvcab create + test)" "$pa" "$both" 1.10
    ratio "window create / (qvcab create + test)" "$wa" "$both" 1.10
    ratio "cli create / qvcab create alone" "$pa" "$qc" 1.10

    BIG=$(cd "$DATA" && du -sb */ | sort -n | tail -n 1 | cut -f2 | tr -d /)
    "$PROGRAM" --archive --companies "$BIG" --data "$DATA" --output "$WORK/big.cab" --yes >/dev/null
    rm -rf "$WORK/pristine"
    "$QVCAB" extract "$WORK/big.cab" "$WORK/pristine"
    DATA_BYTES=$(du -sb "$DATA/$BIG" | cut -f1)
    echo "  restore of $BIG: $DATA_BYTES bytes"
    measure "qvcab extract" "$QVCAB" extract "$WORK/big.cab" "$WORK/out"
    qx=$(secs)
    measure "qvcab extract, then sync" sh -c "'$QVCAB' extract '$WORK/big.cab' '$WORK/out' && sync"
    qs=$(secs)
    measure "program --restore (cli)" "$PROGRAM" --restore "$BIG" --from "$WORK/big.cab" --data "$DATA" --yes
    pr=$(secs)
    diff -r "$WORK/pristine/$BIG" "$DATA/$BIG" >/dev/null || { echo "restored data differs"; exit 1; }
    measure "Odtwórz z archiwum (window)" "$DRIVE" --restore "$DATA" "$BIG" "$WORK/big.cab"
    wr=$(secs)
    diff -r "$WORK/pristine/$BIG" "$DATA/$BIG" >/dev/null || { echo "restored data differs"; exit 1; }
    # What durability costs is the sync; the rest should cost little.
    ratio "cli restore / (qvcab extract + sync)" "$pr" "$qs" 1.25
    ratio "window restore / (qvcab extract + sync)" "$wr" "$qs" 1.25
    ratio "cli restore / qvcab extract alone" "$pr" "$qx"
    ratio "window restore / qvcab extract alone" "$wr" "$qx"
    rm -rf "$DATA" "$WORK/pristine" "$WORK"/*.cab
done
