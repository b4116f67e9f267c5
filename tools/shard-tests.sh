#!/usr/bin/env bash
# Runs a GoogleTest binary in N parallel shards with a gtest filter; fails if any shard fails.
# The unit suite mostly waits on the pacing seam, so shards overlap well even on two cores.
#   tools/shard-tests.sh tests/zelvor_tests 8 '-*UnplugSweep*'
set -u
if [ $# -lt 2 ]; then
    echo "usage: $0 BIN N [FILTER]" >&2
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
        "$bin" --gtest_filter="$filter" --gtest_brief=1 >"$logs/$i.log" 2>&1 &
    pids+=($!)
done

failed=0
for ((i = 0; i < shards; ++i)); do
    if ! wait "${pids[$i]}"; then
        failed=1
        echo "== shard $i of $shards failed:"
        cat "$logs/$i.log"
    fi
done
exit $failed
