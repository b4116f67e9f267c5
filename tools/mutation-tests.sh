#!/usr/bin/env bash
# The test command for mutation runs, run in the scratch build folder: the unit
# suite in parallel shards (the long unplug sweep left out), and, when the mutant lies in the
# window code that only a display exercises, the window tests under Xvfb as well.
#   tools/mutation-tests.sh ORIGINAL_TREE
# ORIGINAL_TREE is the checkout the scratch tree was copied from; a file that differs from it
# is the mutated one.
set -u
here=$(cd "$(dirname "$0")" && pwd)
original=${1:?usage: $0 ORIGINAL_TREE}
"$here/shard-tests.sh" tests/zelvor_tests 8 '-*UnplugSweep*' || exit 1
if ! cmp -s ../src/update/Prompts.cpp "$original/update/Prompts.cpp"; then
    ctest -L gui --output-on-failure >gui-tests.log 2>&1 || exit 1
fi
exit 0
