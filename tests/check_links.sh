#!/usr/bin/env bash
# Every relative link in README.md and docs/ names a file or folder that exists.
set -uo pipefail
cd "$(dirname "$0")/.."
checked=0 broken=0
for document in README.md docs/*.md; do
    while read -r target; do
        target=${target%%#*}
        [ -n "$target" ] || continue
        checked=$((checked + 1))
        if [ ! -e "$(dirname "$document")/$target" ]; then
            echo "FAIL: $document links to $target, which does not exist"
            broken=$((broken + 1))
        fi
    done < <(grep -o '\]([^)]*)' "$document" | sed 's/^](//; s/)$//' | grep -vE '^[a-z]+:|^#')
done
echo "links: $((checked - broken)) passed, $broken failed"
[ "$broken" -eq 0 ]
