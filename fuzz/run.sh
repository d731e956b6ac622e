#!/bin/sh
# Fuzzes the cabinet reader for SECONDS (default 60). Builds with clang into
# $QV_FUZZ_BUILD (default build-fuzz beside this folder), seeds the corpus
# with cabinets from our writer, LZX streams and the reference cabinets of
# other compressors ($QV_TESTDATA/cab, default ../shared/testdata/cab beside
# the project, left out when absent) and stops with a non-zero status on a
# crash.
set -eu
SECONDS_TO_RUN=${1:-60}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${QV_FUZZ_BUILD:-$ROOT/build-fuzz}
CORPUS=${QV_FUZZ_CORPUS:-$BUILD/fuzz-corpus}
CC_BIN=${CC:-clang-14}
CXX_BIN=${CXX:-clang++-14}

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    CC=$CC_BIN CXX=$CXX_BIN cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQV_BUILD_FUZZERS=ON -DQV_BUILD_TESTS=OFF -DQV_QT_WINDOW=OFF >/dev/null
fi
if ! cmake --build "$BUILD" -j2 --target fuzz_cabreader fuzz_cab_seeds >"$BUILD/fuzz-build.log" 2>&1; then
    cat "$BUILD/fuzz-build.log"
    exit 1
fi

REFERENCE=${QV_TESTDATA:-$ROOT/../shared/testdata}/cab

mkdir -p "$CORPUS"
if [ -d "$REFERENCE" ]; then
    "$BUILD/fuzz/fuzz_cab_seeds" "$CORPUS" "$REFERENCE"
else
    "$BUILD/fuzz/fuzz_cab_seeds" "$CORPUS"
fi
mkdir -p "$BUILD/fuzz-artifacts"
exec "$BUILD/fuzz/fuzz_cabreader" -max_total_time="$SECONDS_TO_RUN" -rss_limit_mb=1024 -max_len=65536 \
    -timeout=20 -print_final_stats=1 -artifact_prefix="$BUILD/fuzz-artifacts/" "$CORPUS"
