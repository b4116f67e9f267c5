#!/usr/bin/env bash
# Runs a GoogleTest binary in N parallel shards with a gtest filter; fails if any shard fails.
# The unit suite mostly waits on the pacing seam, so shards overlap well even on two cores.
#   tools/shard-tests.sh tests/zelvor_tests 8 '-*UnplugSweep*'
# --with LAUNCHER runs each shard through LAUNCHER (e.g. wine64 for the Windows build).
set -u
launcher=()
if [ "${1:-}" = --with ]; then
    launcher=("$2")
    shift 2
fi
if [ $# -lt 2 ]; then
    echo "usage: $0 [--with LAUNCHER] BIN N [FILTER]" >&2
    exit 2
fi
bin=$1
shards=$2
filter=${3:-*}
case $shards in
    '' | *[!0-9]* | 0)
        echo "$0: N must be a positive number" >&2
        exit 2
        ;;
esac

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
pids=()
for ((i = 0; i < shards; ++i)); do
    GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$i \
        "${launcher[@]}" "$bin" --gtest_filter="$filter" --gtest_brief=1 >"$logs/$i.log" 2>&1 &
    pids+=($!)
done

# A shard ends when its program does. Under Wine a test program now and then hangs in its exit
# handlers after its last test (seen once in a few runs, never on Linux): a shard whose summary
# is written and whose program is still there 30 s later is ended, judged by its summary, and
# said to have hung.
summary_written() { grep -q '^\[==========\] .* ran\.' "$logs/$1.log"; }
summary_passed() { grep -q '^\[  PASSED  \]' "$logs/$1.log" && ! grep -q '^\[  FAILED  \]' "$logs/$1.log"; }
failed=0
declare -A summarised_at
remaining=$shards
while [ "$remaining" -gt 0 ]; do
    for ((i = 0; i < shards; ++i)); do
        [ -n "${pids[$i]}" ] || continue
        rc=""
        if ! kill -0 "${pids[$i]}" 2>/dev/null; then
            wait "${pids[$i]}"
            rc=$?
        elif [ ${#launcher[@]} -gt 0 ] && summary_written "$i"; then
            summarised_at[$i]=${summarised_at[$i]:-$SECONDS}
            if [ $((SECONDS - summarised_at[$i])) -ge 30 ]; then
                kill -KILL "${pids[$i]}" 2>/dev/null
                wait "${pids[$i]}" 2>/dev/null
                echo "shard $i of $shards: its program hung after its last test and was ended"
                summary_passed "$i" && rc=0 || rc=1
            fi
        fi
        [ -n "$rc" ] || continue
        pids[i]=""
        remaining=$((remaining - 1))
        if [ "$rc" -ne 0 ]; then
            failed=1
            echo "== shard $i of $shards failed (exit $rc):"
            cat "$logs/$i.log"
        fi
    done
    [ "$remaining" -gt 0 ] && sleep 1
done
exit $failed
