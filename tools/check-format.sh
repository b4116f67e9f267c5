#!/usr/bin/env bash
# Fails on a C++ file of the repository that .clang-format would change, naming each with the
# first lines it would change.
set -u
cd "$(dirname "$0")/.."
bad=0
while IFS= read -r file; do
    if ! clang-format --dry-run -Werror "$file" >/dev/null 2>&1; then
        echo "not formatted: $file (clang-format -i $file)"
        clang-format --dry-run "$file" 2>&1 | grep -m 3 'warning:' | sed 's/^/    /'
        bad=1
    fi
done < <(git ls-files '*.cpp' '*.h')
[ "$bad" = 0 ] && echo "every C++ file is formatted"
exit "$bad"
