#!/usr/bin/env bash
# Builds the libFuzzer targets in build-asan (clang, ASan + UBSan: the same build as the ASan
# tests of tools/run-tests.sh) and runs each for a bounded time, one after the other, on a corpus
# under build-asan/corpus/<target> seeded by the target itself. Usage: tools/fuzz.sh [SECONDS_PER_TARGET] (default 60). Exits non-zero on any crash.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=${JOBS:-2}
build=$PWD/build-asan

# target:max_len. The limits sit well above the largest valid input of each kind: a few
# QEX blocks, several DSP messages, a full data block, the 68-byte map reply.
targets="fuzz_qex_parse:4096 fuzz_dsp_reader:2048 fuzz_codec_pack:512 fuzz_receive_handler:512"

start=$(date +%s)
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVOR_SANITIZE=address -DZELVOR_FUZZ=ON >/dev/null
cmake --build "$build" -j"$jobs" --target zelvor_fuzzers
echo "== fuzzers built in $(($(date +%s) - start)) s"

failed=""
for entry in $targets; do
    target=${entry%%:*}
    corpus=$build/corpus/$target
    artifacts=$build/artifacts/$target
    log=$build/logs/$target.log
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    ZELVOR_FUZZ_WRITE_SEEDS=$corpus "$build/fuzz/$target"

    echo "== $target (${seconds} s)"
    if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$build/fuzz/$target" "$corpus" -max_total_time="$seconds" -max_len="${entry##*:}" \
        -timeout=10 -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1; then
        grep -E '^Done [0-9]+ runs|stat::(number_of_executed_units|average_exec_per_sec)' "$log" || true
    else
        echo "!! $target failed; log: $log"
        grep -E 'ERROR|invariant broken|artifact_prefix|Test unit written' "$log" | head -20 || true
        failed="$failed $target"
    fi
done

if [ -n "$failed" ]; then
    echo "== crashes in:$failed"
    exit 1
fi
echo "== no crash"
