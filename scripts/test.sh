#!/usr/bin/env bash
# Installs what is missing, builds everything with the tests and runs them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/test -j "$(nproc)"
# A short fuzz run of the cabinet reader (clang, ASan + UBSan); fuzz/run.sh
# runs longer ones.
QV_FUZZ_BUILD="$PWD/build/fuzz" bash fuzz/run.sh "${QV_FUZZ_SECONDS:-30}" 2>&1 | tail -n 5
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build/test --output-on-failure -j "$(nproc)"
