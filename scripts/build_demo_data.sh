#!/bin/sh
# Builds the demo data set into the directory the game runs from (the directory
# of the executable, given as the first argument).  Every file is made by the
# project's own tools from the sources in data/: each file
# data/<file>/GROUP.SUBGROUP.NAME becomes one tag of that tag file.
set -eu
if [ $# -ne 1 ]; then
    echo "usage: $0 PROGRAM-DIRECTORY" >&2
    exit 2
fi
out=$1
root=$(cd "$(dirname "$0")/.." && pwd)
tool="$out/vesk_tags"
if [ ! -x "$tool" ]; then
    echo "$0: $tool is missing; build the tools first" >&2
    exit 1
fi
mkdir -p "$out/tags" "$out/plugins" "$out/preferences"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

# Wraps every source file of data/$1 as a local tag file under $work/$1.
wrap_folder() {
    mkdir -p "$work/$1"
    [ -d "$root/data/$1" ] || return 0
    for source in "$root/data/$1"/*.*.*; do
        [ -f "$source" ] || continue
        base=$(basename "$source")
        group=$(printf '%s' "$base" | cut -d. -f1)
        subgroup=$(printf '%s' "$base" | cut -d. -f2)
        name=$(printf '%s' "$base" | cut -d. -f3-)
        "$tool" wrap "$work/$1/$group.$subgroup" --group "$group" --subgroup "$subgroup" --name "$name" "$source"
    done
}

# Packs into a temporary name first so that a failure never leaves a
# half-written tag file where the game looks.
pack() {
    target=$1
    shift
    "$tool" pack "$target.partial" "$@"
    mv "$target.partial" "$target"
}

# Every source is turned into a tag first; each file is then packed once.
for n in 1 2 3 4 5; do
    wrap_folder "foundation$n"
done
wrap_folder patch1

# Maps: every data/maps/<name>.map becomes a 'mesh' tag whose subgroup is the
# first four characters of its name (twin_valleys: '85gi'), in the first
# foundation file.
for source in "$root"/data/maps/*.map; do
    [ -f "$source" ] || continue
    name=$(basename "$source" .map)
    subgroup=$(printf '%s' "$name" | tr -d '_' | cut -c1-4)
    # The network game's default map has the tag its defaults name.
    [ "$name" = twin_valleys ] && subgroup=85gi
    "$tool" mesh "$work/foundation1/mesh.$subgroup" --subgroup "$subgroup" \
        --name "$(printf '%s' "$name" | tr '_' ' ')" "$source"
    # The landscape collection the map names ("tag landscape CODE"), made
    # from the map's own terrain types and relief.
    landscape=$(awk '$1 == "tag" && $2 == "landscape" { print $3; exit }' "$source")
    # The overhead-map picture the map names ("tag overhead CODE") is drawn
    # from the same colour map, in its palette.
    overhead=$(awk '$1 == "tag" && $2 == "overhead" { print $3; exit }' "$source")
    overhead_options=""
    if [ -n "$overhead" ] && [ "$overhead" != "none" ]; then
        overhead_options="--overhead $work/foundation1/collection.$overhead --overhead-subgroup $overhead"
    fi
    if [ -n "$landscape" ] && [ "$landscape" != "none" ]; then
        # shellcheck disable=SC2086 # the options are words
        "$tool" landscape "$work/foundation1/collection.$landscape" --subgroup "$landscape" \
            --name "$(printf '%s' "$name" | tr '_' ' ') landscape" $overhead_options "$source"
        # Its detail map, when data/detail/dmap names one for the landscape.
        if [ -f "$root/data/detail/dmap/$landscape.txt" ]; then
            "$tool" detail-map "$work/foundation1/dmap.$landscape" --subgroup "$landscape" \
                --name "$(printf '%s' "$name" | tr '_' ' ') detail" --map "$source" \
                "$root/data/detail/dmap/$landscape.txt"
        fi
    fi
done

# Detail textures: every data/detail/dtex/<subgroup>.txt, drawn by the tool.
for source in "$root"/data/detail/dtex/*.txt; do
    [ -f "$source" ] || continue
    subgroup=$(basename "$source" .txt)
    "$tool" detail-texture "$work/foundation1/dtex.$subgroup" --subgroup "$subgroup" --name "$subgroup" "$source"
done

# Text sources: every data/<kind>/<group>/<subgroup>.txt becomes a tag of that
# group named after its subgroup, made by `vesk_tags <command>`.
convert_texts() {
    command=$1 kind=$2 destination=$3
    mkdir -p "$destination"
    for source in "$root/data/$kind"/*/*.txt; do
        [ -f "$source" ] || continue
        group=$(basename "$(dirname "$source")")
        subgroup=$(basename "$source" .txt)
        "$tool" "$command" "$destination/$group.$subgroup" --group "$group" --subgroup "$subgroup" \
            --name "$subgroup" "$source"
    done
}

# Object definitions, scenery, geometry, models... go in the first foundation
# file next to the maps that place them; interface texts in the interface file.
convert_texts objects objects "$work/foundation1"
# Media definitions, preload lists and camera limits go with the maps that name them.
convert_texts media media "$work/foundation1"
convert_texts preload preload "$work/foundation1"
# The camera's physics limits the maps name ("tag observer CODE").
convert_texts observer observer "$work/foundation1"
# Collections: every data/collections/<subgroup>.txt becomes a '.256' tag
# (the file is not named by its group: a leading dot would hide it).
for source in "$root"/data/collections/*.txt; do
    [ -f "$source" ] || continue
    subgroup=$(basename "$source" .txt)
    "$tool" collection "$work/foundation1/collection.$subgroup" --subgroup "$subgroup" --name "$subgroup" "$source"
done
convert_texts strings strings "$work/interface"

# Interface fonts: every line of data/fonts/interface.txt makes a font and its
# four style fonts, rendered from the DejaVu faces, in the interface file.
faces=/usr/share/fonts/truetype/dejavu
grep -v '^#' "$root/data/fonts/interface.txt" | while read -r plain italic bold condensed underlined size name; do
    [ -n "$plain" ] || continue
    "$tool" font "$work/interface/font.$plain" --subgroup "$plain" --name "$name" \
        --face "$faces/DejaVuSans.ttf" --size "$size" \
        --italic "$italic" --bold "$bold" --condensed "$condensed" --underlined "$underlined"
    "$tool" font "$work/interface/font.$italic" --subgroup "$italic" --name "$name italic" \
        --face "$faces/DejaVuSans-Oblique.ttf" --size "$size"
    "$tool" font "$work/interface/font.$bold" --subgroup "$bold" --name "$name bold" \
        --face "$faces/DejaVuSans-Bold.ttf" --size "$size"
    "$tool" font "$work/interface/font.$condensed" --subgroup "$condensed" --name "$name condensed" \
        --face "$faces/DejaVuSansCondensed.ttf" --size "$size"
    "$tool" font "$work/interface/font.$underlined" --subgroup "$underlined" --name "$name underlined" \
        --face "$faces/DejaVuSans.ttf" --size "$size" --underline
done

# The interface's look: every data/interface/collections/<subgroup>.txt
# becomes a '.256' tag and every data/interface/inte/<subgroup>.txt an
# interface definition ('inte'), in the interface file.
for source in "$root"/data/interface/collections/*.txt; do
    [ -f "$source" ] || continue
    subgroup=$(basename "$source" .txt)
    "$tool" collection "$work/interface/collection.$subgroup" --subgroup "$subgroup" --name "$subgroup" "$source"
done
for source in "$root"/data/interface/inte/*.txt; do
    [ -f "$source" ] || continue
    subgroup=$(basename "$source" .txt)
    "$tool" interface "$work/interface/inte.$subgroup" --subgroup "$subgroup" --name "$subgroup" "$source"
done

# Dialogs: every data/interface/dialogs/<subgroup>.txt becomes a dialog
# ('bina') and, when its description puts the texts in a list, the dialog
# string list ('ditl') of the same subgroup, in the interface file.
for source in "$root"/data/interface/dialogs/*.txt; do
    [ -f "$source" ] || continue
    subgroup=$(basename "$source" .txt)
    "$tool" dialog "$work/interface/bina.$subgroup" --ditl "$work/interface/ditl.$subgroup" \
        --subgroup "$subgroup" --name "$subgroup" "$source"
done

# Sounds: every line of data/sounds/tones.txt is a generated sound, in the
# voice data/sounds/voices.txt gives it, made into a 'soun' tag; the valley's
# ambient sound, the interface's sound list and the units name them.
grep -v '^#' "$root/data/sounds/tones.txt" | while read -r subgroup hertz seconds channels amplitude name; do
    [ -n "$subgroup" ] || continue
    voice=$(awk -v s="$subgroup" '$1 == s { print $2 }' "$root/data/sounds/voices.txt")
    python3 "$root/scripts/tone_wav.py" "$work/$subgroup.wav" "$hertz" "$seconds" "$channels" "$amplitude" ${voice:-sine}
    "$tool" sound "$work/foundation1/soun.$subgroup" --subgroup "$subgroup" --name "$name" "$work/$subgroup.wav"
done
"$tool" ambient-sound "$work/foundation1/amso.wind" --subgroup wind --name "valley wind" --loop wind --random bird \
    --inner 2048 --outer 10240 --period 90 150 --random-radius 3072
"$tool" sound-list "$work/interface/soli.intr" --subgroup intr --name "interface sounds" bird wind

for n in 1 2 3 4 5; do
    pack "$out/tags/foundation$n.tags" --type foundation --name "foundation$n" "$work/foundation$n"
done
pack "$out/tags/patch1.tags" --type patch --patch 1 --name patch1 "$work/patch1"
pack "$out/tags/interface.tags" --type interface --name "interface" "$work/interface"

# The demo plug-in: a plug-in without maps, with its banner and icon
# (data/plugins/demo/collections/<subgroup>.txt), in "plugins" under its name.
mkdir -p "$work/plugin_demo"
for source in "$root"/data/plugins/demo/collections/*.txt; do
    [ -f "$source" ] || continue
    subgroup=$(basename "$source" .txt)
    "$tool" collection "$work/plugin_demo/collection.$subgroup" --subgroup "$subgroup" --name "$subgroup" "$source"
done
pack "$out/plugins/Demo Plug-in" --type plugin --name "Demo Plug-in" --version 65535 \
    --url "http://plugins.vesk.invalid/demo" "$work/plugin_demo"
# The timed unit orders of the examples (README.md, docs/determinism.md)
# beside the game, so they name them from its folder: --orders orders/battle.txt.
mkdir -p "$out/orders"
cp "$root"/data/orders/*.txt "$out/orders/"
echo "demo data built in $out"
