#!/bin/sh
# Builds the demo data set into the directory the game runs from (the directory
# of the executable, given as the first argument).  Every file is made by the
# project's own tools from the sources in data/.
set -eu
out=$1
mkdir -p "$out/tags" "$out/plugins" "$out/preferences"
