#!/bin/sh
# Builds the demo data set into the directory the game runs from (the directory
# of the executable, given as the first argument).  Every file is made by the
# project's own tools from the sources in data/.
set -eu
out=$1
mkdir -p "$out/tags" "$out/plugins" "$out/preferences"

# Interface texts: every data/strings/<group>/<subgroup>.txt (group stli, ditl
# or text) becomes a tag named after its subgroup, packed into the interface file.
root=$(cd "$(dirname "$0")/.." && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
for source in "$root"/data/strings/*/*.txt; do
    [ -f "$source" ] || continue
    group=$(basename "$(dirname "$source")")
    subgroup=$(basename "$source" .txt)
    "$out/vesk_tags" strings "$stage/$group-$subgroup.tag" --group "$group" --subgroup "$subgroup" \
        --name "$subgroup" "$source"
done
"$out/vesk_tags" pack "$out/tags/interface.tags" --type interface --name "interface" "$stage"
