#!/bin/sh
# End-to-end check of the release game and its demo data, as `make run` builds
# them into PROGRAM-DIRECTORY: the headless simulation of the demo map gives
# the same per-tick trace twice from one seed and another from another seed,
# a recorded run and the replay of its film print the same trace, the game
# checks an empty set of films and then that film headless and exits 0, and
# vesk_film lists the film with its sync commands and its end record; the demo battle repeats
# its trace, beats one side, and its film replays and is checked in step; the
# scripted test map attacks at tick 96, ends the game when a team is gone, and
# its film replays and is checked in step; the campaign test map repeats its
# trace, gives another for another seed, and its film replays and is checked
# in step; so does the behaviours test map, whose log shows each of its
# behaviours at work; the skirmish is won with its orders and lost without,
# each in three to ten minutes, and its films replay; the game opens its window on an X server of its own,
# shows the main menu there exactly as vesk_shot draws it headless (the window
# read back with xwd and decoded by netpbm), and ends when it is closed;
# vesk_shot pressing Quit ends the program, pressing New Game comes back to
# the menu; and every command README.md shows runs.
set -eu
if [ $# -ne 1 ]; then
    echo "usage: $0 PROGRAM-DIRECTORY" >&2
    exit 2
fi
bin=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
# The games here hear nothing of the machine's sound system: a sound server
# that is missing or left locked must not change a result.
export ALSOFT_DRIVERS=null SDL_AUDIODRIVER=dummy
for program in vesk vesk_sim vesk_film vesk_shot vesk_render vesk_tags; do
    if [ ! -x "$bin/$program" ]; then
        echo "$0: $bin/$program is missing; build the release game first" >&2
        exit 1
    fi
done
if [ ! -d "$bin/tags" ]; then
    echo "$0: $bin/tags is missing; build the demo data first" >&2
    exit 1
fi
work=$(mktemp -d)
. "$(dirname "$0")/own_x_server.sh"
trap 'stop_own_x_server; rm -rf "$work"' EXIT INT TERM
# The tools log (and vesk_shot shoots) where they are called from: here.
cd "$work"

# A failed step's evidence on standard error: each of the files that exists
# (a step cut short leaves some unwritten, and under `set -e` a missing one
# would end the script before the rest were shown).
show_files() {
    for file in "$@"; do
        if [ -f "$file" ]; then cat "$file" >&2; fi
    done
}

ticks=600
simulate() { # seed, trace file
    if ! "$bin/vesk_sim" --data "$bin" --map demo --seed "$1" --ticks "$ticks" >"$2" 2>"$2.err"; then
        echo "$0: vesk_sim --map demo --seed $1 failed:" >&2
        cat "$2.err" >&2
        exit 1
    fi
    lines=$(wc -l <"$2")
    if [ "$lines" -lt "$ticks" ]; then
        echo "$0: vesk_sim --seed $1 printed $lines lines for $ticks ticks" >&2
        exit 1
    fi
}
simulate 3 "$work/three"
simulate 3 "$work/three_again"
simulate 7 "$work/seven"
simulate 7 "$work/seven_again"
simulate 8 "$work/eight"
if ! cmp -s "$work/three" "$work/three_again"; then
    echo "$0: two runs of the demo map with seed 3 (its explosive set off) gave different traces:" >&2
    diff "$work/three" "$work/three_again" | head -n 10 >&2
    exit 1
fi
if ! cmp -s "$work/seven" "$work/seven_again"; then
    echo "$0: two runs of the demo map with seed 7 gave different traces:" >&2
    diff "$work/seven" "$work/seven_again" | head -n 10 >&2
    exit 1
fi
if cmp -s "$work/seven" "$work/eight"; then
    echo "$0: seeds 7 and 8 gave the same trace: the seed changes nothing" >&2
    exit 1
fi
echo "vesk_sim: seeds 3 and 7 twice give one trace each ($ticks ticks), seed 8 another"

# The demo battle: both teams ordered to attack each other.  One trace per
# seed, another for another seed, and by the end one team is eliminated or has
# lost more than half of its units.  Its film replays to the same trace.
orders="$root/data/orders/battle.txt"
battle_ticks=6000
battle() { # seed, output file, extra arguments
    seed=$1
    out=$2
    shift 2
    if ! "$bin/vesk_sim" --data "$bin" --map demo --seed "$seed" --ticks "$battle_ticks" --orders "$orders" \
        --report "$@" >"$out" 2>"$out.err"; then
        echo "$0: the demo battle with seed $seed failed:" >&2
        cat "$out.err" >&2
        exit 1
    fi
}
battle 7 "$work/battle7"
battle 7 "$work/battle7_again" --record "$work/battle_film"
battle 8 "$work/battle8"
if ! cmp -s "$work/battle7" "$work/battle7_again"; then
    echo "$0: two runs of the demo battle with seed 7 (one recorded) gave different traces:" >&2
    diff "$work/battle7" "$work/battle7_again" | head -n 10 >&2
    exit 1
fi
if cmp -s "$work/battle7" "$work/battle8"; then
    echo "$0: the demo battle gave the same trace with seeds 7 and 8" >&2
    exit 1
fi
if ! awk '$1 == "team" && $3 == "placed" && $5 == "alive" && 2 * $6 < $4 { beaten = 1 } END { exit !beaten }' \
    "$work/battle7"; then
    echo "$0: in the demo battle no team was eliminated or lost more than half of its units:" >&2
    grep -v '^[0-9]' "$work/battle7" >&2
    exit 1
fi
if ! "$bin/vesk_sim" --data "$bin" --film "$work/battle_film" --report >"$work/battle_replayed" 2>"$work/battle_replayed.err"; then
    echo "$0: the replay of the battle's film failed:" >&2
    cat "$work/battle_replayed.err" >&2
    exit 1
fi
if ! cmp -s "$work/battle7" "$work/battle_replayed"; then
    echo "$0: the replay of the battle's film printed another trace than the recorded run:" >&2
    diff "$work/battle7" "$work/battle_replayed" | head -n 10 >&2
    exit 1
fi
echo "vesk_sim: the demo battle (seed 7, $battle_ticks ticks) repeats its trace, seed 8 gives another, a side is beaten: $(grep '^team' "$work/battle7" | tr '\n' ' ')and its film replays to the same trace"

# The scripted maps share their checks: a run per seed, the same trace for
# the same seed (one run recorded), another for another seed, and the film
# replaying to the recorded trace (and checked in step below).
map_ticks=1200
run_map() { # name, map tag, seed, output file, extra arguments
    name=$1
    map=$2
    seed=$3
    out=$4
    shift 4
    if ! "$bin/vesk_sim" --data "$bin" --map "$map" --seed "$seed" --ticks "$map_ticks" --report "$@" >"$out" 2>"$out.err"; then
        echo "$0: the $name map with seed $seed failed:" >&2
        cat "$out.err" >&2
        exit 1
    fi
}
# name, map tag, output prefix: $work/PREFIX (seed 7, logged), PREFIX_again
# (seed 7, recorded to PREFIX_film) and PREFIX8 (seed 8, unless --one-seed).
check_map_runs() {
    name=$1
    map=$2
    prefix=$3
    run_map "$name" "$map" 7 "$work/$prefix" --log "$work/$prefix.log"
    run_map "$name" "$map" 7 "$work/${prefix}_again" --record "$work/${prefix}_film"
    if ! cmp -s "$work/$prefix" "$work/${prefix}_again"; then
        echo "$0: two runs of the $name map with seed 7 (one recorded) gave different traces:" >&2
        diff "$work/$prefix" "$work/${prefix}_again" | head -n 10 >&2
        exit 1
    fi
    if [ "${4:-}" != "--one-seed" ]; then
        run_map "$name" "$map" 8 "$work/${prefix}8"
        if cmp -s "$work/$prefix" "$work/${prefix}8"; then
            echo "$0: the $name map gave the same trace with seeds 7 and 8" >&2
            exit 1
        fi
    fi
    if ! "$bin/vesk_sim" --data "$bin" --film "$work/${prefix}_film" --report >"$work/${prefix}_replayed" 2>"$work/${prefix}_replayed.err" ||
       ! cmp -s "$work/$prefix" "$work/${prefix}_replayed"; then
        echo "$0: the replay of the $name map's film failed or printed another trace:" >&2
        cat "$work/${prefix}_replayed.err" >&2
        diff "$work/$prefix" "$work/${prefix}_replayed" | head -n 10 >&2
        exit 1
    fi
}
# name, log, then the patterns each of which some line of the log must match.
check_map_log() {
    name=$1
    log=$2
    shift 2
    for expected in "$@"; do
        if ! grep -q "$expected" "$log"; then
            echo "$0: the $name map's log holds no line like \"$expected\":" >&2
            grep 'MA \[' "$log" | tail -n 10 >&2
            exit 1
        fi
    done
}

# The scripted test map: its script orders the attack at tick 96, hands team
# 1 over and ends the game when a team is gone, naming the winner.
check_map_runs scripted scri scripted --one-seed
check_map_log scripted "$work/scripted.log" '^@game_time 96 .* MA \[atta\] team 0 attacks  normal attack' \
    'MA \[endg\] team [01] wins  team [01] victory'
if ! grep -q '^winning team [01]$' "$work/scripted" || ! grep -q '^team [01] placed 4 alive 0$' "$work/scripted"; then
    echo "$0: the scripted map did not end the game when a team was gone:" >&2
    grep -v '^[0-9]' "$work/scripted" >&2
    exit 1
fi
echo "vesk_sim: the scripted map (seed 7, $map_ticks ticks) attacks at tick 96, ends with $(grep '^winning' "$work/scripted"), repeats its trace, and its film replays to it"

# The campaign test map: guards, a platoon, a leader and his follower, a
# filter whose results a unit test counts and a unit control hands over, a
# formation move, changed cells and the gate's animation.
check_map_runs campaign camp campaign
check_map_log campaign "$work/campaign.log" 'MA \[plat\] the platoon ' 'MA \[geom\] stragglers in the south-west '
echo "vesk_sim: the campaign map (seeds 7 and 8, $map_ticks ticks) repeats its trace, seed 8 gives another, and its film replays to it"

# The behaviours test map: ambient deer and peasants, a legion, harassers, a
# hidden archer and his searchers, two world knots swapping their units, a
# suicide unit, custom scoring and a goal.
check_map_runs behaviours beha behaviours
check_map_log behaviours "$work/behaviours.log" 'MA \[legi\] the eastern legion  attacking' \
    'MA \[girl\] the western harassers ' 'MA \[invi\] the search party  unit ' \
    'MA \[knot\] the western knot  state set to: teleporting in' \
    'MA \[suic\] the suicide unit  #1 suicide monsters active' 'MA \[scor\] a point each  succeeded' \
    'MA \[goal\] team 0.s goal ' 'MA \[deer\] ' 'MA \[peas\] '
echo "vesk_sim: the behaviours map (seeds 7 and 8, $map_ticks ticks) repeats its trace, seed 8 gives another, its log shows every behaviour, and its film replays to it"

# The skirmish from seed 2: with the orders of data/orders/skirmish.txt (the
# ford held), skirmish_camp.txt (the camp held) or skirmish_line.txt (the
# starting line held) the player wins, without
# orders the player loses, each after three and
# within ten minutes of game time (no winner at 5400 ticks, one at 18000);
# the report names the winner and each film replays to its trace.  The
# difficulty sets the enemy's size: 8, 11, 13, 14 and 16 units.
skirmish_orders="$root/data/orders"
skirmish() { # name, expected winner, extra arguments
    name=$1
    winner=$2
    shift 2
    for skirmish_ticks in 5400 18000; do
        if ! "$bin/vesk_sim" --data "$bin" --map skir --seed 2 --ticks "$skirmish_ticks" --report \
                --record "$work/skirmish_${name}_$skirmish_ticks.film" "$@" >"$work/skirmish_${name}_$skirmish_ticks" \
                2>"$work/skirmish_$name.err" ||
           ! "$bin/vesk_sim" --data "$bin" --film "$work/skirmish_${name}_$skirmish_ticks.film" --report \
                >"$work/skirmish_${name}_replayed" 2>>"$work/skirmish_$name.err" ||
           ! cmp -s "$work/skirmish_${name}_$skirmish_ticks" "$work/skirmish_${name}_replayed"; then
            echo "$0: the skirmish $name ($skirmish_ticks ticks) failed, or its film replayed to another trace:" >&2
            cat "$work/skirmish_$name.err" >&2
            exit 1
        fi
    done
    if grep -q '^winning' "$work/skirmish_${name}_5400" || ! grep -q "^winning team $winner\$" "$work/skirmish_${name}_18000"; then
        echo "$0: the skirmish $name did not end with team $winner's win between three and ten minutes:" >&2
        grep -v '^[0-9]' "$work/skirmish_${name}_5400" "$work/skirmish_${name}_18000" >&2
        exit 1
    fi
}
skirmish won 0 --orders "$skirmish_orders/skirmish.txt"
skirmish won_from_the_camp 0 --orders "$skirmish_orders/skirmish_camp.txt"
skirmish won_in_line 0 --orders "$skirmish_orders/skirmish_line.txt"
skirmish lost 1
sizes=""
for level in 0 1 2 3 4; do
    sizes="$sizes $("$bin/vesk_sim" --data "$bin" --map skir --seed 7 --ticks 1 --difficulty "$level" --report |
        sed -n 's/^team 1 placed \([0-9]*\) .*/\1/p')"
done
if [ "$sizes" != " 8 11 13 14 16" ]; then
    echo "$0: the skirmish's enemy at the five difficulty levels has$sizes units, not 8 11 13 14 16" >&2
    exit 1
fi
echo "vesk_sim: the skirmish (seed 2) is won with each of its orders and lost without, between three and ten minutes, each film replays to its trace, and the enemy has$sizes units by difficulty"

# The campaign's levels from seed 2, five minutes each: Ridge Pass is won
# with data/orders/ridge_pass.txt and lost at nightfall without orders;
# Campaign Valley is won with data/orders/campaign_valley.txt, after its
# relief (three units of team 0 called in at one minute) came, and lost at
# nightfall without orders: red's camp waits for an attack.
campaign_level() { # name, map, expected report line, extra arguments
    name=$1
    map=$2
    expected=$3
    shift 3
    if ! "$bin/vesk_sim" --data "$bin" --map "$map" --seed 2 --ticks 9000 --report "$@" >"$work/level_$name" \
            2>"$work/level_$name.err" ||
       ! grep -q "^$expected\$" "$work/level_$name"; then
        echo "$0: the campaign level $name did not report \"$expected\":" >&2
        grep -v '^[0-9]' "$work/level_$name" "$work/level_$name.err" >&2
        exit 1
    fi
}
campaign_level ridge_won ridg 'winning team 0' --orders "$skirmish_orders/ridge_pass.txt"
campaign_level ridge_waited ridg 'winning team 1'
campaign_level valley_won camp 'winning team 0' --orders "$skirmish_orders/campaign_valley.txt"
campaign_level valley_relieved camp 'team 0 placed 12 alive [0-9]*' --orders "$skirmish_orders/campaign_valley.txt"
campaign_level valley_waited camp 'winning team 1'
echo "vesk_sim: Ridge Pass (seed 2) is won with its orders and lost at nightfall without; Campaign Valley is won with its orders and its relief comes, and not won without orders"

# The game moves into its own directory, so it runs from a copy of the program
# and its data where no films wait to be checked.  No display: headless.
mkdir "$work/game"
cp "$bin/vesk" "$work/game/"
for folder in tags plugins preferences orders; do
    if [ -d "$bin/$folder" ]; then cp -r "$bin/$folder" "$work/game/"; fi
done
status=0
(cd "$work/game" && env -u DISPLAY -u WAYLAND_DISPLAY timeout 120 ./vesk --oos_check >"$work/oos.out" 2>&1) || status=$?
if [ "$status" -ne 0 ]; then
    echo "$0: vesk --oos_check with no films exited $status:" >&2
    cat "$work/oos.out" >&2
    if [ -f "$work/game/vesk_log.txt" ]; then tail -n 20 "$work/game/vesk_log.txt" >&2; fi
    exit 1
fi
echo "vesk --oos_check: no films, exit 0, headless"

# The main menu drawn headless by vesk_shot: a PNG after 30 frames; a script
# pressing Quit ends the program with status 0; one pressing New Game logs
# the missing state and brings the menu back.  Button centres come from the
# dialog 'mmnu' (data/interface/dialogs/mmnu.txt).
cp "$bin/vesk_shot" "$work/game/"
# Called from $work: its shot and log land there, not in the caller's folder.
if ! (cd "$work" && "$work/game/vesk_shot" --data "$work/game" --frames 30 >"$work/shot.out" 2>"$work/shot.err"); then
    echo "$0: vesk_shot --frames 30 failed:" >&2
    cat "$work/shot.out" "$work/shot.err" >&2
    exit 1
fi
shot=$(tail -n 1 "$work/shot.out")
if [ ! -f "$shot" ]; then
    echo "$0: vesk_shot printed no screenshot path:" >&2
    cat "$work/shot.out" >&2
    exit 1
fi
printf '2 press 320 375\n4 release 320 375\n' >"$work/quit.txt"
if ! (cd "$work" && "$work/game/vesk_shot" --data "$work/game" --frames 30 --actions "$work/quit.txt" >"$work/quit.out" 2>&1) ||
   ! grep -q "^game state: main menu -> quit$" "$work/quit.out"; then
    echo "$0: vesk_shot pressing Quit did not end the program with status 0:" >&2
    cat "$work/quit.out" >&2
    exit 1
fi
echo "vesk_shot: the main menu after 30 frames ($(basename "$shot")); Quit ends the program"

# The game as `make run` starts it, on an X server of its own (never a DISPLAY
# found in the environment, nor a display another program may take): the
# 640 x 480 window "VESK" of the main menu appears and, read back with xwd,
# comes to show what vesk_shot drew (RGB, at most 1 apart per channel);
# closing it (SDL turns SIGTERM into a quit event) ends the game with status
# 0 and no assertion in the log.  Each wait is for what the game shows; its
# bound only guards against a hang.
pngtopnm "$shot" >"$work/shot.ppm"
cat >"$work/compare.py" <<'COMPARE'
import sys
def read_ppm(path):
    data = open(path, "rb").read()
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace(): at += 1
        if data[at:at + 1] == b"#":
            while data[at:at + 1] not in (b"\n", b""): at += 1
            continue
        start = at
        while not data[at:at + 1].isspace(): at += 1
        fields.append(data[start:at])
    # xwdtopnm writes 16-bit samples (maxval 65535): both are read as 8 bits.
    maxval = int(fields[3])
    if fields[0] != b"P6" or maxval not in (255, 65535): sys.exit("%s: not a PPM of 8 or 16 bits" % path)
    width, height = int(fields[1]), int(fields[2])
    size = 1 if maxval == 255 else 2
    raw = data[at + 1:at + 1 + width * height * 3 * size]
    if size == 1: return width, height, raw
    return width, height, bytes((raw[i] * 256 + raw[i + 1]) * 255 // 65535 for i in range(0, len(raw), 2))
w1, h1, a = read_ppm(sys.argv[1])
w2, h2, b = read_ppm(sys.argv[2])
if (w1, h1) != (w2, h2) or len(a) != len(b): sys.exit("sizes differ: %dx%d and %dx%d" % (w1, h1, w2, h2))
worst = max(abs(x - y) for x, y in zip(a, b))
if worst > 1: sys.exit("the window differs from the vesk_shot frame by up to %d" % worst)
COMPARE
cat >"$work/window.sh" <<'WINDOW'
cd "$1" && ./vesk >"$2" 2>&1 &
pid=$!
found=1
for i in $(seq 100); do
    if xwininfo -name VESK >"$3" 2>/dev/null; then found=0; break; fi
    sleep 0.2
done
# The menu is drawn in the first frames after the window opens: grabbed
# until it shows the frame (the last grab is compared again below).
if [ "$found" -eq 0 ]; then
    for i in $(seq 100); do
        xwd -silent -name VESK | xwdtopnm >"$4" 2>/dev/null
        if python3 "$5" "$4" "$6" 2>/dev/null; then break; fi
        sleep 0.2
    done
fi
kill -TERM $pid 2>/dev/null
status=0
wait $pid || status=$?
[ "$found" -eq 0 ] || exit 3
exit $status
WINDOW
status=0
rm -f "$work/game/vesk_log.txt"
start_own_x_server 1280x1024x24
(unset WAYLAND_DISPLAY; timeout 120 sh "$work/window.sh" "$work/game" "$work/window.out" "$work/window.info" \
    "$work/window.ppm" "$work/compare.py" "$work/shot.ppm") || status=$?
stop_own_x_server
if [ "$status" -ne 0 ] || ! grep -q "Width: 640" "$work/window.info" || ! grep -q "Height: 480" "$work/window.info" ||
   grep -qi "assert" "$work/game/vesk_log.txt"; then
    echo "$0: vesk showed no 640 x 480 window VESK, or did not end cleanly when it was closed (status $status):" >&2
    show_files "$work/window.out" "$work/window.info"
    if [ -f "$work/game/vesk_log.txt" ]; then tail -n 20 "$work/game/vesk_log.txt" >&2; fi
    exit 1
fi
if ! python3 "$work/compare.py" "$work/window.ppm" "$work/shot.ppm"; then
    echo "$0: the window VESK does not show the main menu that vesk_shot draws" >&2
    exit 1
fi
# The device probe opens an OpenGL window of its own where the display has
# OpenGL; the menu's software mode must have replaced it (the frame above).
opengl_devices=$(grep -A1 "Scanning for OpenGL devices" "$work/game/vesk_log.txt" | sed -n 's/.*Found \([0-9]*\) to use.*/\1/p')
echo "vesk: the main menu's 640 x 480 window VESK shows the vesk_shot frame (xwd, at most 1 apart), closed with status 0" \
    "(OpenGL devices listed: ${opengl_devices:-none})"

# A game whose X server goes away under it (the session ended): the program
# ends at once with status 1 and says why, and the film of the game is kept
# and replays in step.  New Game is pressed at its button's centre, then OK
# by Return; the server is killed once the map has started.
cat >"$work/lost_display.sh" <<'LOST'
cd "$1" && ./vesk >"$2" 2>&1 &
pid=$!
window=""
for i in $(seq 100); do
    window=$(xdotool search --name '^VESK$' 2>/dev/null | head -n 1)
    if [ -n "$window" ]; then break; fi
    sleep 0.2
done
[ -n "$window" ] || { kill -9 $pid; exit 3; }
started=1
for i in $(seq 100); do
    xdotool mousemove --window "$window" 320 165 click 1 2>/dev/null; sleep 0.2
    xdotool key Return 2>/dev/null
    if grep -q "map '.*' started" "$1/vesk_log.txt" 2>/dev/null; then started=0; break; fi
    sleep 0.2
done
if [ "$started" -ne 0 ]; then
    # Seen once under load, with no log and no output from the game: what
    # the window was and whether the game still ran say where to look.
    echo "the window $window ('$(xdotool getwindowname "$window" 2>&1)', process $(xdotool getwindowpid "$window" 2>&1))" \
        "led to no map's start; the game (process $pid) $(kill -0 $pid 2>/dev/null && echo still ran || echo had ended);" \
        "its folder held: $(ls -A "$1" | tr '\n' ' ')" >&2
    kill -9 $pid
    exit 4
fi
kill -9 "$3"
status=0
wait $pid || status=$?
exit $status
LOST
status=0
rm -rf "$work/game/vesk_log.txt" "$work/game/films"
start_own_x_server 1280x1024x24
(unset WAYLAND_DISPLAY; timeout 120 sh "$work/lost_display.sh" "$work/game" "$work/lost.out" "$x_server_pid") || status=$?
stop_own_x_server
if [ "$status" -ne 1 ] || ! grep -q "X server closed its connection" "$work/lost.out" ||
   ! grep -q "X server closed its connection: the program ends" "$work/game/vesk_log.txt" ||
   ! "$bin/vesk_sim" --data "$bin" --film "$work/game/films/Last Game" >"$work/lost_replay" 2>"$work/lost_replay.err"; then
    echo "$0: a game whose X server went away did not end with status 1 and its film in step (status $status):" >&2
    show_files "$work/lost.out" "$work/lost_replay.err"
    if [ -f "$work/game/vesk_log.txt" ]; then tail -n 20 "$work/game/vesk_log.txt" >&2; fi
    exit 1
fi
echo "vesk: a game whose X server went away ends with status 1 and says why; its film replays in step ($(tail -n 1 "$work/lost_replay" | cut -d' ' -f1) ticks)"
rm -rf "$work/game/films"

# A recorded run and its film: one trace; the game checks the film in step.
if ! "$bin/vesk_sim" --data "$bin" --map demo --seed 5 --ticks 3000 --record "$work/film" >"$work/recorded" 2>"$work/recorded.err" ||
   ! "$bin/vesk_sim" --data "$bin" --film "$work/film" >"$work/replayed" 2>"$work/replayed.err"; then
    echo "$0: vesk_sim --record or --film failed:" >&2
    show_files "$work/recorded.err" "$work/replayed.err"
    exit 1
fi
if ! cmp -s "$work/recorded" "$work/replayed"; then
    echo "$0: the replay of the film printed another trace than the recorded run:" >&2
    diff "$work/recorded" "$work/replayed" | head -n 10 >&2
    exit 1
fi
echo "vesk_sim: --record and --film print one trace (3000 ticks)"
# The seed-3 run with its explosive, recorded: the same trace as unrecorded.
if ! "$bin/vesk_sim" --data "$bin" --map demo --seed 3 --ticks "$ticks" --record "$work/film3" >"$work/recorded3" 2>"$work/recorded3.err"; then
    echo "$0: vesk_sim --seed 3 --record failed:" >&2
    cat "$work/recorded3.err" >&2
    exit 1
fi
if ! cmp -s "$work/three" "$work/recorded3"; then
    echo "$0: recording the seed-3 run changed its trace:" >&2
    diff "$work/three" "$work/recorded3" | head -n 10 >&2
    exit 1
fi
mkdir -p "$work/game/oos_checker_films"
cp "$work/film" "$work/game/oos_checker_films/demo_seed_5"
cp "$work/film3" "$work/game/oos_checker_films/demo_seed_3"
cp "$work/battle_film" "$work/game/oos_checker_films/demo_battle"
cp "$work/scripted_film" "$work/game/oos_checker_films/scripted_seed_7"
cp "$work/campaign_film" "$work/game/oos_checker_films/campaign_seed_7"
cp "$work/behaviours_film" "$work/game/oos_checker_films/behaviours_seed_7"
status=0
(cd "$work/game" && env -u DISPLAY -u WAYLAND_DISPLAY timeout 120 ./vesk --oos_check >"$work/oos.out" 2>&1) || status=$?
if [ "$status" -ne 0 ] || ! grep -q 'film "demo_seed_5": in step at tick 3000' "$work/game/vesk_log.txt" ||
   ! grep -q "film \"demo_seed_3\": in step at tick $ticks" "$work/game/vesk_log.txt" ||
   ! grep -q "film \"demo_battle\": in step at tick $battle_ticks" "$work/game/vesk_log.txt" ||
   ! grep -q "film \"scripted_seed_7\": in step at tick $map_ticks" "$work/game/vesk_log.txt" ||
   ! grep -q "film \"campaign_seed_7\": in step at tick $map_ticks" "$work/game/vesk_log.txt" ||
   ! grep -q "film \"behaviours_seed_7\": in step at tick $map_ticks" "$work/game/vesk_log.txt"; then
    echo "$0: vesk --oos_check did not find the recorded film in step (exit $status):" >&2
    tail -n 20 "$work/game/vesk_log.txt" >&2
    exit 1
fi
echo "vesk --oos_check: the recorded films (seeds 5 and 3, the battle, the scripted, the campaign and the behaviours maps) are in step, exit 0"
if ! "$bin/vesk_film" "$work/film" >"$work/listing"; then
    echo "$0: vesk_film could not list the film" >&2
    exit 1
fi
syncs=$(grep -c 'verb 1 (sync) player 0' "$work/listing" || true)
# The end record of this program's rules carries the chain of the ticks since the last sync command.
ends=$(grep -c 'verb 1 (sync) player -1 size 32 (the end: .*(chain from tick ' "$work/listing" || true)
if [ "$syncs" -ne 17 ] || [ "$ends" -ne 1 ] || ! tail -n 2 "$work/listing" | grep -q '^  time 3000 verb 1 (sync) player -1'; then
    echo "$0: vesk_film lists $syncs sync commands and $ends end records, not 17 (one every 170 ticks) and the end's last:" >&2
    head -n 20 "$work/listing" >&2
    exit 1
fi
echo "vesk_film: header, blocks, 17 sync commands and the end record"

# Every command README.md shows, run as a newcomer runs it, so that the page
# cannot go stale: each indented line starting "./" (a trailing "# ..." is a
# comment) runs in order from a copy of the program directory that stands
# where `make run` puts it, beside data/.  The page shows each program at
# least once.  The game's own lines (./vesk ...) need a display: they run
# after the others, one after another on an X server of their own, each until
# its window has shown for a second; then it is closed and must end with
# status 0, its whole window on the screen and no assertion in its log.  The
# two the checks above already run as shown ("./vesk" and "./vesk_shot
# --frames 30") are not run again.  Each `make TARGET` the page names must be
# a target of the Makefile.
sed -n 's/^    \(\.\/[^#]*\).*$/\1/p' "$root/README.md" | sed 's/ *$//' >"$work/readme_commands"
for program in vesk vesk_sim vesk_film vesk_shot vesk_render vesk_tags; do
    if ! grep -q "^\./$program\( \|$\)" "$work/readme_commands"; then
        echo "$0: README.md shows no example of $program (an indented line \"./$program ...\")" >&2
        exit 1
    fi
done
# (The Makefile's targets from its database, which make prints without
# running a recipe: `make -n TARGET` still runs every recipe line that starts
# a make of its own, and so emptied the step times of the very `make test`
# that runs this check.)
env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -pRrq -C "$root" -f Makefile __no_target__ 2>/dev/null |
    sed -n 's/^\([a-z][a-z-]*\):.*/\1/p' | sort -u >"$work/make_targets"
for target in $({ grep -o '`[^`]*make [a-z][a-z-]*`' "$root/README.md"; grep '^    make ' "$root/README.md"; } |
    sed 's/.*make \([a-z][a-z-]*\).*/\1/' | sort -u); do
    if ! grep -qx "$target" "$work/make_targets"; then
        echo "$0: README.md names \`make $target\`, which is not a target of the Makefile" >&2
        exit 1
    fi
done
here="$work/readme/build/release/bin"
mkdir -p "$here"
ln -s "$root/data" "$work/readme/data"
# Every program the release build makes (the game and each tool).
for program in "$bin"/vesk*; do
    if [ -f "$program" ] && [ -x "$program" ]; then cp "$program" "$here/"; fi
done
for folder in tags plugins preferences orders; do
    if [ -d "$bin/$folder" ]; then cp -r "$bin/$folder" "$here/"; fi
done
: >"$work/readme_games"
while IFS= read -r line; do
    case "$line" in
    "./vesk" | "./vesk_shot --frames 30") continue ;;
    "./vesk "*)
        printf '%s\n' "$line" >>"$work/readme_games"
        continue
        ;;
    esac
    # In a network of its own: the page's fixed ports (a host, a lobby) and
    # its search of the local network meet nothing else on the machine.
    if ! (cd "$here" && timeout 120 "$root/tests/support/in_own_network.sh" sh -c "$line") >"$work/readme.out" 2>&1; then
        echo "$0: the README's \"$line\" failed:" >&2
        tail -n 20 "$work/readme.out" >&2
        exit 1
    fi
done <"$work/readme_commands"
cat >"$work/readme_games.sh" <<'GAMES'
n=0
while IFS= read -r line; do
    n=$((n + 1))
    (cd "$2" && rm -f vesk_log.txt && exec sh -c "exec $line") >"$3/game$n.out" 2>&1 &
    pid=$!
    found=no
    for i in $(seq 100); do
        if xwininfo -name VESK >"$3/game$n.info" 2>/dev/null; then found=yes; break; fi
        sleep 0.2
    done
    # The game makes its window anew as it sets its screen up for the film:
    # its info is read until the window lies wholly on the screen (judged
    # again below), however long the set-up takes; the bound only guards
    # against a hang.
    if [ "$found" = yes ]; then
        for i in $(seq 100); do
            xwininfo -name VESK >"$3/game$n.info" 2>/dev/null
            if awk '/Absolute upper-left X:/ { x = $4 } /Absolute upper-left Y:/ { y = $4 } /Width:/ { w = $2 }
                /Height:/ { h = $2 } END { exit !(w > 0 && x >= 0 && y >= 0 && x + w <= 1024 && y + h <= 768) }' \
                "$3/game$n.info" && grep -q -e '-> main menu' -e '-> running' "$2/vesk_log.txt" 2>/dev/null; then
                break
            fi
            sleep 0.2
        done
    fi
    kill -TERM $pid 2>/dev/null
    status=0
    wait $pid || status=$?
    cp "$2/vesk_log.txt" "$3/game$n.log" 2>/dev/null
    echo "$n $found $status"
done <"$1"
GAMES
start_own_x_server 1024x768x24
(unset WAYLAND_DISPLAY; timeout 120 sh "$work/readme_games.sh" "$work/readme_games" "$here" "$work") \
    >"$work/readme_games.out" 2>&1 || true
stop_own_x_server
n=0
while IFS= read -r line; do
    n=$((n + 1))
    result=$(grep "^$n " "$work/readme_games.out" || true)
    placed=$(awk '/Absolute upper-left X:/ { x = $4 } /Absolute upper-left Y:/ { y = $4 } /Width:/ { w = $2 }
        /Height:/ { h = $2 } END { if (w > 0 && x >= 0 && y >= 0 && x + w <= 1024 && y + h <= 768) print "on" }' \
        "$work/game$n.info" 2>/dev/null || true)
    if [ "$result" != "$n yes 0" ] || [ "$placed" != on ] || grep -qi "assert" "$work/game$n.log" 2>/dev/null; then
        echo "$0: the README's \"$line\" showed no window VESK wholly on a 1024 x 768 screen, or did not end cleanly (${result:-no result}):" >&2
        show_files "$work/game$n.out" "$work/game$n.info" "$work/readme_games.out"
        if [ -f "$work/game$n.log" ]; then tail -n 20 "$work/game$n.log" >&2; fi
        exit 1
    fi
done <"$work/readme_games"
echo "README.md: its $(wc -l <"$work/readme_commands") commands run (films on a 1024 x 768 screen: $n)"
