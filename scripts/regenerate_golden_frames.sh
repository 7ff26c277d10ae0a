#!/bin/sh
# Regenerates the golden frames (tests/data/golden/*.png) from the demo data
# after a deliberate change to the demo data or the renderer: runs the golden
# frame test of the given build directory in its regenerating mode.  Look at
# the new frames before committing them.
set -eu
if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD-DIRECTORY" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
cmake --build "$build" --target game_golden_frames_test vesk_render vesk_tags
cd "$build/tests"
VESK_REGENERATE_GOLDEN_FRAMES=1 ./game_golden_frames_test --gtest_filter='golden_frames.frames_match_the_stored_goldens'
