#!/usr/bin/env bash
# Makes the kit twice from the committed sources, in two clones at different paths, and checks
# that the two zips are byte for byte the same (scripts/kit.sh also checks its programs'
# imports each time).
set -euo pipefail
repository=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
commit=$(git -C "$repository" rev-parse HEAD)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for tree in "$scratch/one" "$scratch/second/tree"; do  # side by side
    git clone -q --no-local "$repository" "$tree" && git -C "$tree" checkout -q --detach "$commit"
    "$tree/scripts/kit.sh" > "$tree.log" 2>&1 &
done
for tree in "$scratch/one" "$scratch/second/tree"; do
    wait -n || { cat "$scratch/one.log" "$scratch/second/tree.log"; exit 1; }
done
if cmp "$scratch/one/build/launcher-kit.zip" "$scratch/second/tree/build/launcher-kit.zip"; then
    echo "the kit made twice at two paths: $(tail -n 1 "$scratch/one.log")"
else
    echo "FAIL: the two kits differ"
    exit 1
fi
