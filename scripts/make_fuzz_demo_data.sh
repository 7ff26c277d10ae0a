#!/bin/sh
# Makes the demo data set of the fuzz targets that run the game or draw with
# its art (fuzz/demo_data_set.h) in DIRECTORY, a new empty directory, with
# the data tool TOOL: the demo data of scripts/build_demo_data.sh cut to the
# small golden-shore map.  "interface_whole.tags" there is the interface file
# before the cut, with every dialog, font and collection.
#
#   make_fuzz_demo_data.sh TOOL DIRECTORY
#
# Every map start reads and checks the whole foundation and interface files:
# only the small map's landscape and mesh are kept of the maps, and of the
# interface what a headless game loads (its definition, the plain fonts, the
# small collections and string lists).
#
# The targets make the set themselves with the tool of their own build, which
# carries their instrumentation and takes half a minute of processor time;
# `make test` makes it beforehand with the release build's tool, beside the
# fuzz build.
set -eu
if [ $# -ne 2 ]; then
    echo "usage: $0 TOOL DIRECTORY" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
if [ ! -x "$tool" ]; then
    echo "$0: $tool is missing; build the tools first" >&2
    exit 1
fi
cd "$2"
ln -s "$tool" vesk_tags
"$root/scripts/build_demo_data.sh" . >/dev/null
cp tags/interface.tags interface_whole.tags
./vesk_tags unpack tags/foundation1.tags all >/dev/null
for f in all/*/*landscape* all/mesh/*; do
    case "$f" in
        *'golden shore'*) ;;
        *) rm -f "$f" ;;
    esac
done
rm -rf all/dmap
./vesk_tags pack tags/foundation1.tags --type foundation --name foundation1 all >/dev/null
rm -rf all
./vesk_tags unpack tags/interface.tags all >/dev/null
rm -rf all/bina all/ditl all/font/*' '* all/*/mmnu all/*/baie all/*/'!cba' all/*/'!sba'
./vesk_tags pack tags/interface.tags --type interface --name interface all >/dev/null
rm -rf all vesk_tags
