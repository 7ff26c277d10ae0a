// vesk_sim: runs a map headless from a seed and prints the state hash after
// every tick, to compare runs and machines.
//
//     vesk_sim [--data DIR] [--log FILE] --map TAG --seed N --ticks T [--command TICK VERB A B X Y]...
//              [--orders FILE] [--record FILM] [--gameplay-version V] [--difficulty D] [--report]
//              [--camera] [--input FILE]
//     vesk_sim [--data DIR] [--log FILE] --film FILM [--report] [--camera]
//     vesk_sim [--data DIR] [--log FILE] --continue SAVE --ticks T [--orders FILE] [--report] [--camera]
//
// --save-at TICK SAVE (with --map) saves the game when TICK ticks have run,
// as an autosave would, to SAVE (a local tag file); the run goes on.
// --continue SAVE restores that saved game instead of starting from a seed:
// its film replays up to the save, then the game goes on, to tick T; the
// trace is the one the saving run printed.  The orders of --orders from the
// save's tick on are given (the earlier ones are in the saved game's film).
// --record writes the run's film to FILM as a local tag file; its commands
// are the game's own, so it cannot be given with --command, whose verbs act
// outside the command stream.  Without it no film is kept: the game's own
// films and saved games (its "Last Game" above all) are never touched.  --film replays FILM instead of starting from a
// seed: the film gives the map, seed and length, and the trace is the one
// the recorded run printed; a film that goes out of step as it replays (its
// sync checks differ: other data, another program) exits 17 with "the film
// went out of step at tick N" on standard error, and so does a continued
// saved game ("the saved game went out of step at tick N").  --orders gives the unit orders of FILE, one
// timed order per line, as the players' own commands (docs/determinism.md);
// a line that does not parse is refused with its number (exit 2).
// --gameplay-version runs the new game under gameplay version V, one of the
// rows of the gameplay-version table (a value between rows is refused, exit
// 2); it is written into the game's parameters, so a film recorded with it
// replays under it.  --difficulty D plays the new game at difficulty level
// D (0..4, default 2: the levels of the new-game dialog), also kept in its
// film.  --report prints, after the last tick, one line per team
// ("team T placed P alive A": the units made from its markers so far and
// those alive now), the teams in their ranking ("team T place N score S",
// places from 1), one line per player ("player P team T kills K losses L
// damage D taken X score S place N": its team's score and place) and
// "winning team T" when the game has ended with one.
// --input feeds the timed keyboard and mouse events of FILE through the
// game's input layer, one keyboard-task tick per game tick
// (docs/determinism.md); a line that does not parse is refused (exit 2).
// --camera runs the camera's frame update after every tick on a tick clock
// and prints "camera TICK X Y YAW PITCH ZOOM" after the tick's hash line
// (camera_trace.h); the camera is local, so the hashes do not change.
// DIR is the directory holding "tags" and "plugins" (default: the directory
// vesk_sim itself is in, the game's folder), as the game finds them beside
// its executable.  The log is
// "vesk_sim_log.txt" in the directory vesk_sim was called from (never DIR),
// or FILE; never the game's "vesk_log.txt".
// --net-host PORT --players N [--coop] hosts a network game of the map on
// PORT (127.0.0.1 and every other address): it starts once N players (itself
// included) are listed and ready; --coop makes it a cooperative game, which
// players may join while it runs.  --net-join ADDRESS[:PORT] joins such a game
// (port 3453 without one), --find the first game the local network lists
// (it takes --ticks and no map or seed: the host's game is played), in
// progress too, replaying the host's history at full speed and printing its
// catch-up rate on standard error.  --record FILM keeps this process's film
// of the game (the last one played, after a restart) as FILM: the host and
// each joiner record their own.  Every process passes the start barrier,
// prints "TICK HASH" every 30 ticks, passes the end barrier at tick T and
// prints "final T HASH"; one whose game falls out of step prints "out of
// sync at tick N" and exits 17.  --random-orders SEED gives the local
// player's units random moves from a generator of its own, one in the first
// frame of the game; --wall-limit SECONDS bounds the whole run (default: the
// game's length plus 60 s).  --restart-at TICK (host) presses the quit
// dialog's restart at that tick: every process prints "restarting at tick N",
// passes the end barrier and plays the game again from its start, for T ticks;
// with --rehost it presses Rehost instead ("rehosting at tick N"): the host
// asks for the next game in the endgame dialog and everybody gets ready in
// the set-up again.  --time-limit SECONDS (host) gives the game a time limit.
// --lobby HOST:PORT --user U --password W takes the lobby road: it logs in
// and, in the lobby dialog, --create presses New (the host's parameters as
// they stand, the map --map TAG when given, hosted on --port P, default 3453,
// started once --players N are ready, --coop and --gameplay-version V as
// for --net-host) or --join-listed joins the first game the room lists (and
// tries again a second later while a join fails); the game is
// played as above ("final T HASH", then "standings ..." as the lobby's score
// report carries them), ends through the endgame dialog, --games G games of
// one session (the host asks for each next one there), and the lobby dialog
// comes back and is left.  When the lobby drops under a game, the host says
// what its quit dialog offers ("the lobby dropped; the quit dialog's rehost is
// ... and its restart ..."), the game ends at its last tick, and each process
// logs in again, as a player would, for the games still to play.
// --record FILM keeps this process's film of its last game, as on the other
// network roads.  --hold-endgame keeps the last game's endgame dialog open
// until the lobby's room dies ("the endgame dialog is open until the lobby's
// room dies" says when), then leaves it; --leave-after MS presses its
// Leave MS milliseconds after it opens, as a player who reads the standings.  --then-direct (host) then hosts a
// direct game of its own on --port, says what its quit dialog offers ("the
// direct game ran; the quit dialog's rehost is ..."), ends it through the
// endgame dialog ("the direct game's endgame dialog shows the standings") and
// logs in to the lobby again.
// On every network road --orders FILE gives the lines of this process's own
// player (the game's player 0 is the host's) as that player's commands, and
// --report prints the report above once the game has ended, before its
// "final" line; a game that ends before tick T (one side wiped out, the time
// limit, its countdown run out) ends there on every machine, and "final"
// names that tick.  --quit-at TICK presses the quit dialog's Quit at TICK:
// the process prints "left at tick N" and leaves the session; a joiner whose
// host left ends its game at the last tick the host stamped ("the host left;
// the game ended at tick N" on standard error) and prints its "final" line.
// --chat TEXT sends TEXT to everybody while the game is configured (the host
// once its N players are listed, a joiner given --players N once it lists N,
// else at once), and every process prints the chat lines it received as
// "vesk_sim: chat NAME: TEXT" on standard error.
// Numbers are decimal: no base prefix, no sign where none is meaningful,
// nothing after the digits, nothing outside the field's range.
//
// Prints "<tick> <hash as 8 hex digits>" per tick on standard output, each as
// its tick ends, and exits 0; refusals and errors go to standard error: a map
// that cannot be started gives one line with the reason and exits 1; bad
// arguments exit 2.

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "camera_trace.h"
#include "cseries/cseries.h"
#include "cseries/files.h"
#include "cseries/tags.h"
#include "determinism_harness.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "input_events.h"
#include "markers.h"
#include "monsters.h"
#include "players.h"
#include "recording.h"
#include "statistics.h"
#include "tool_folders.h"
#include "unit_orders.h"
#include "version.h"
#include "net_run.h"
#include "metaserver_lib/metaserver_packets.h"
#include "vesk_networking/networking_preferences.h"
#include "vesk_networking/vesk_networking.h"

// The usage lines, on `out`: standard output for --help, standard error
// after a wrong command line.
static void print_usage(FILE *out)
{
    fprintf(out, "usage: vesk_sim [--data DIR] [--log FILE] --map TAG --seed N --ticks T "
                    "[--command TICK VERB A B X Y]... [--orders FILE] [--record FILM] [--gameplay-version V] [--difficulty D] "
                    "[--report] [--camera] [--input FILE]\n"
                    "       vesk_sim [--data DIR] [--log FILE] --film FILM [--report] [--camera]\n"
                    "       vesk_sim [--data DIR] [--log FILE] --map TAG --seed N --ticks T --save-at TICK SAVE ...\n"
                    "       vesk_sim [--data DIR] [--log FILE] --continue SAVE --ticks T [--orders FILE] [--report] "
                    "[--camera]\n"
                    "       vesk_sim [--data DIR] [--log FILE] --net-host PORT --players N [--coop] --map TAG --seed N "
                    "--ticks T [--gameplay-version V] [--random-orders SEED] [--restart-at TICK [--rehost]] [--time-limit SECONDS] "
                    "[--wall-limit SECONDS] "
                    "[--chat TEXT] [--record FILM] [--orders FILE] [--report] [--quit-at TICK]\n"
                    "       vesk_sim [--data DIR] [--log FILE] --net-join ADDRESS[:PORT] | --find --ticks T "
                    "[--random-orders SEED] [--wall-limit SECONDS] [--players N] [--chat TEXT] [--record FILM] "
                    "[--orders FILE] [--report] [--quit-at TICK]\n"
                    "       vesk_sim [--data DIR] [--log FILE] --lobby HOST:PORT --user U --password W "
                    "--create [--port P] [--players N] [--map TAG] [--coop] [--gameplay-version V] "
                    "[--restart-at TICK [--rehost]] [--time-limit SECONDS] [--then-direct] | "
                    "--join-listed --ticks T [--games G] "
                    "[--random-orders SEED] [--wall-limit SECONDS] [--hold-endgame] [--leave-after MS] [--record FILM] "
                    "[--orders FILE] [--report] [--quit-at TICK]\n"
                    "       vesk_sim --help\n");
}

static void usage(void) { print_usage(stderr); }

// Decimal only: an optional '-' (when `minimum` is negative) and digits, all
// of the text, within [minimum, maximum].  Leading zeros are decimal ("010" is
// ten).  False, with a line on standard error, otherwise.
static bool parse_decimal(const char *option, const char *text, int64_t minimum, int64_t maximum, int64_t *value)
{
    const char *p = text ? text : "";
    bool negative = false;
    if (*p == '-' && minimum < 0)
    {
        negative = true;
        ++p;
    }
    bool ok = *p != 0;
    int64_t magnitude = 0;
    // Every bound is far below 2^59, so magnitude * 10 + 9 never overflows.
    const int64_t limit = negative ? -minimum : maximum;
    for (; ok && *p; ++p)
    {
        if (*p < '0' || *p > '9' || magnitude * 10 + (*p - '0') > limit)
            ok = false;
        else
            magnitude = magnitude * 10 + (*p - '0');
    }
    if (!ok)
    {
        fprintf(stderr, "vesk_sim: %s wants a decimal number from %lld to %lld, not \"%s\"\n", option,
                (long long)minimum, (long long)maximum, text ? text : "");
        return false;
    }
    *value = negative ? -magnitude : magnitude;
    return true;
}

// The same into an int32_t (`minimum` and `maximum` within its range).
static bool parse_decimal(const char *option, const char *text, int64_t minimum, int64_t maximum, int32_t *value)
{
    int64_t wide = 0;
    if (!parse_decimal(option, text, minimum, maximum, &wide)) return false;
    *value = (int32_t)wide;
    return true;
}

// The teams' units: placed from markers (the palette entries' counts) and
// alive now; each team's place and score, and each player's results, as the
// game ranks them now; then the winner, when there is one.
static void print_report(void)
{
    for (int16_t team = 0; team < get_team_count(); ++team)
    {
        int32_t placed = 0, alive = 0;
        for (int32_t i = 0; i < get_marker_palette_entry_count(_marker_monster); ++i)
        {
            const marker_palette_entry *entry = get_marker_palette_entry(_marker_monster, i);
            if (entry->team_index == team) placed += entry->count;
        }
        for (int32_t i = 0; i < MAXIMUM_MONSTERS_PER_MAP; ++i)
        {
            const monster_data *monster = get_monster_data(i);
            if (monster && monster->owner_team_index == team) ++alive;
        }
        printf("team %d placed %d alive %d\n", (int)team, (int)placed, (int)alive);
    }
    // Ranking reads the game's state and changes none of what the hash covers.
    force_player_statistics_update();
    int16_t team_places[MAXIMUM_TEAMS_PER_GAME];
    int32_t team_scores[MAXIMUM_TEAMS_PER_GAME] = {};
    for (int16_t team = 0; team < MAXIMUM_TEAMS_PER_GAME; ++team) team_places[team] = NONE;
    for (int32_t place = 0; const team_ranking_data *ranking = get_team_ranking(place); ++place)
    {
        printf("team %d place %d score %d\n", (int)ranking->team_index, ranking->place + 1, (int)ranking->score);
        if (ranking->team_index >= 0 && ranking->team_index < MAXIMUM_TEAMS_PER_GAME)
        {
            team_places[ranking->team_index] = ranking->place;
            team_scores[ranking->team_index] = ranking->score;
        }
    }
    for (int32_t rank = 0; const player_ranking_data *ranking = get_player_ranking(rank); ++rank)
    {
        const int16_t team = get_player_data(ranking->player_index)->team_index;
        const bool ranked = team >= 0 && team < MAXIMUM_TEAMS_PER_GAME && team_places[team] != NONE;
        printf("player %d team %d kills %d losses %d damage %d taken %d score %d place %d\n",
               (int)ranking->player_index, (int)team, (int)ranking->total_kill_count, (int)ranking->casualty_count,
               (int)ranking->total_damage, (int)ranking->total_damage_taken, ranked ? (int)team_scores[team] : 0,
               ranked ? team_places[team] + 1 : 0);
    }
    if (game_->winning_team_index != NONE) printf("winning team %d\n", (int)game_->winning_team_index);
}

enum
{
    // A cut film replays until its commands end, at most this long.
    CUT_FILM_TICK_LIMIT = 100000000,
};

// Options whose value is a secret: the log's copy of the command line shows
// "********" in its place.
static bool option_carries_secret(const char *option) { return !strcmp(option, "--password"); }

// The run's log, headed by the command line (secrets masked): FILE, or
// "vesk_sim_log.txt" in the working directory of the call (opened before the
// harness leaves it), never in the data directory nor the game's own log.  A log that cannot be opened is reported on standard
// error; the run goes on.  The run's films and saves are kept apart from the
// player's; false (told) when they cannot be.
static std::string working_directory(void);

static bool open_run_log(const char *log, int argc, char **argv)
{
    char header[512];
    slprintf(header, sizeof(header), "%s vesk_sim started:", VESK_VERSION_STRING);
    for (int i = 0; i < argc; ++i)
        slprintfcat(header, sizeof(header), " %s", i > 0 && option_carries_secret(argv[i - 1]) ? "********" : argv[i]);
    if (log)
        open_log_file_at(log, header);
    else
        open_tool_log_file("vesk_sim", working_directory().c_str(), header);
    return use_private_player_folders("vesk_sim");
}

static bool camera_trace;

static void print_tick(int32_t tick, uint32_t hash, void *)
{
    printf("%d %08x\n", tick, hash);
    if (camera_trace) print_camera_after_tick(tick);
}

// The run the command line asks for.
struct simulation_options
{
    const char *data = nullptr;
    const char *map = nullptr;
    const char *log = nullptr;
    const char *record = nullptr;
    const char *film = nullptr;
    const char *orders_path = nullptr;
    const char *input_path = nullptr;
    const char *save_path = nullptr;
    const char *continue_from = nullptr;
    int64_t seed = -1;
    int64_t ticks = -1;
    int64_t gameplay_version = NONE;
    int64_t save_at = -1;
    int64_t difficulty = NONE;
    bool report = false;
    std::vector<simulation_command> commands = {};
    net_run_options net = {};
    int64_t net_port = -1;
    int64_t net_players = 2;
    int64_t random_orders = -1;
    int64_t wall_limit = -1;
    int64_t restart_at = -1;
    int64_t quit_at = -1;
    bool net_players_given = false;
    bool lobby_create = false;
    int64_t lobby_port = -1;
    int64_t lobby_games = 1;
    input_feed input = {};
    std::vector<unit_order> orders = {};
};

// --command TICK VERB A B X Y: a command in tick order.  False, with the
// reason printed, when it is not one.
static bool parse_command_option(const char *option, char **argv, int i, simulation_options *o)
{
    int64_t values[5];
    simulation_command command = {};
    command.verb = simulation_verb_from_name(argv[i + 2]);
    if (command.verb == NONE)
    {
        fprintf(stderr, "vesk_sim: unknown command verb \"%s\"\n", argv[i + 2]);
        return false;
    }
    if (!parse_decimal(option, argv[i + 1], 0, INT32_MAX, &values[0])) return false;
    // A and B are 16-bit (teams, types): a larger value is refused, not cut.
    for (int k = 1; k < 5; ++k)
        if (!parse_decimal(option, argv[i + 2 + k], k <= 2 ? INT16_MIN : INT32_MIN,
                           k <= 2 ? INT16_MAX : INT32_MAX, &values[k]))
            return false;
    command.tick = (int32_t)values[0];
    command.a = (int16_t)values[1];
    command.b = (int16_t)values[2];
    command.x = (int32_t)values[3];
    command.y = (int32_t)values[4];
    if (!o->commands.empty() && o->commands.back().tick > command.tick)
    {
        fprintf(stderr, "vesk_sim: commands must be given in tick order\n");
        return false;
    }
    o->commands.push_back(command);
    return true;
}

// --difficulty D belongs to a new game of --map on this machine: a film, a
// saved game and a network game carry their own level.
static bool difficulty_fits_the_run(const simulation_options *o)
{
    if (o->difficulty == NONE ||
        (o->map && !o->film && !o->continue_from && !o->net.lobby && o->net_port < 0 && !o->net.join && !o->net.find))
        return true;
    fprintf(stderr, "vesk_sim: --difficulty belongs to a new game of --map on this machine\n");
    return false;
}

// What one option's parser made of argv[*i] (its value words consumed
// through *i): not its option, taken, or refused (the reason printed).
enum option_parse
{
    _option_not_mine,
    _option_taken,
    _option_refused,
};

static option_parse taken_if(bool parsed) { return parsed ? _option_taken : _option_refused; }

// The files of the run and what it prints.
static option_parse parse_run_option(int argc, char **argv, int *i, simulation_options *o)
{
    const char *option = argv[*i];
    const bool has_value = *i + 1 < argc;
    if (!strcmp(option, "--data") && has_value) o->data = argv[++*i];
    else if (!strcmp(option, "--log") && has_value) o->log = argv[++*i];
    else if (!strcmp(option, "--record") && has_value) o->record = argv[++*i];
    else if (!strcmp(option, "--film") && has_value) o->film = argv[++*i];
    else if (!strcmp(option, "--continue") && has_value) o->continue_from = argv[++*i];
    else if (!strcmp(option, "--orders") && has_value) o->orders_path = argv[++*i];
    else if (!strcmp(option, "--input") && has_value) o->input_path = argv[++*i];
    else if (!strcmp(option, "--camera")) camera_trace = true;
    else if (!strcmp(option, "--report")) o->report = true;
    else if (!strcmp(option, "--save-at") && *i + 2 < argc)
    {
        // One save a run: a second would silently replace the first.
        if (o->save_path)
        {
            fprintf(stderr, "vesk_sim: --save-at is given twice: a run saves once\n");
            return _option_refused;
        }
        if (!parse_decimal(option, argv[*i + 1], 0, 100000000, &o->save_at)) return _option_refused;
        o->save_path = argv[*i + 2];
        *i += 2;
    }
    else return _option_not_mine;
    return _option_taken;
}

// The network game's roles and what their players do.
static option_parse parse_network_option(int argc, char **argv, int *i, simulation_options *o)
{
    const char *option = argv[*i];
    const bool has_value = *i + 1 < argc;
    if (!strcmp(option, "--net-host") && has_value) return taken_if(parse_decimal(option, argv[++*i], 1, 65535, &o->net_port));
    if (!strcmp(option, "--players") && has_value)
    {
        o->net_players_given = true;
        return taken_if(parse_decimal(option, argv[++*i], 1, MAXIMUM_NET_GAME_PLAYERS, &o->net_players));
    }
    if (!strcmp(option, "--random-orders") && has_value)
        return taken_if(parse_decimal(option, argv[++*i], 0, 0xFFFFFFFFll, &o->random_orders));
    if (!strcmp(option, "--restart-at") && has_value)
    {
        if (!parse_decimal(option, argv[++*i], 1, 100000000, &o->restart_at)) return _option_refused;
        if (o->restart_at != 0) return _option_taken;
        fprintf(stderr, "vesk_sim: --restart-at wants a tick of the game, from 1\n");
        return _option_refused;
    }
    if (!strcmp(option, "--quit-at") && has_value) return taken_if(parse_decimal(option, argv[++*i], 1, 100000000, &o->quit_at));
    if (!strcmp(option, "--time-limit") && has_value)
        return taken_if(parse_decimal(option, argv[++*i], 1, 86400, &o->net.time_limit_seconds));
    if (!strcmp(option, "--wall-limit") && has_value) return taken_if(parse_decimal(option, argv[++*i], 1, 86400, &o->wall_limit));
    if (!strcmp(option, "--net-join") && has_value) o->net.join = argv[++*i];
    else if (!strcmp(option, "--chat") && has_value) o->net.chat = argv[++*i];
    else if (!strcmp(option, "--coop")) o->net.cooperative = true;
    else if (!strcmp(option, "--find")) o->net.find = true;
    else if (!strcmp(option, "--rehost")) o->net.rehost = true;
    else return _option_not_mine;
    return _option_taken;
}

// The lobby road.
static option_parse parse_lobby_option(int argc, char **argv, int *i, simulation_options *o)
{
    const char *option = argv[*i];
    const bool has_value = *i + 1 < argc;
    if (!strcmp(option, "--leave-after") && has_value)
        return taken_if(parse_decimal(option, argv[++*i], 1, 60000, &o->net.leave_after_ms));
    if (!strcmp(option, "--port") && has_value) return taken_if(parse_decimal(option, argv[++*i], 1, 65535, &o->lobby_port));
    if (!strcmp(option, "--games") && has_value) return taken_if(parse_decimal(option, argv[++*i], 1, 100, &o->lobby_games));
    if (!strcmp(option, "--lobby") && has_value) o->net.lobby = argv[++*i];
    else if (!strcmp(option, "--user") && has_value) o->net.user = argv[++*i];
    else if (!strcmp(option, "--password") && has_value) o->net.password = argv[++*i];
    else if (!strcmp(option, "--create")) o->lobby_create = true;
    else if (!strcmp(option, "--join-listed")) o->net.join_listed = true;
    else if (!strcmp(option, "--hold-endgame")) o->net.hold_endgame = true;
    else if (!strcmp(option, "--then-direct")) o->net.then_direct = true;
    else return _option_not_mine;
    return _option_taken;
}

// The game itself: map, seed, length, rules, level and commands.
static option_parse parse_game_option(int argc, char **argv, int *i, simulation_options *o)
{
    const char *option = argv[*i];
    const bool has_value = *i + 1 < argc;
    if (!strcmp(option, "--map") && has_value)
    {
        o->map = argv[++*i];
        return _option_taken;
    }
    if (!strcmp(option, "--seed") && has_value) return taken_if(parse_decimal(option, argv[++*i], 0, 0xFFFFFFFFll, &o->seed));
    if (!strcmp(option, "--ticks") && has_value) return taken_if(parse_decimal(option, argv[++*i], 0, 100000000, &o->ticks));
    if (!strcmp(option, "--difficulty") && has_value)
        return taken_if(parse_decimal(option, argv[++*i], 0, NUMBER_OF_DIFFICULTY_LEVELS - 1, &o->difficulty));
    if (!strcmp(option, "--command") && *i + 6 < argc)
    {
        if (!parse_command_option(option, argv, *i, o)) return _option_refused;
        *i += 6;
        return _option_taken;
    }
    if (strcmp(option, "--gameplay-version") || !has_value) return _option_not_mine;
    if (!parse_decimal(option, argv[++*i], 0, 100000, &o->gameplay_version)) return _option_refused;
    if (gameplay_version_is_known((int32_t)o->gameplay_version)) return _option_taken;
    fprintf(stderr, "vesk_sim: gameplay version %lld is not one the game can run\n", (long long)o->gameplay_version);
    return _option_refused;
}

// Reads the command line into `o`.  Returns -1 to go on, or the status to
// exit with (0 after --help, 2 after a usage error).
static int parse_arguments(int argc, char **argv, simulation_options *o)
{
    typedef option_parse (*option_parser)(int argc, char **argv, int *i, simulation_options *o);
    static const option_parser parsers[] = {parse_run_option, parse_network_option, parse_lobby_option,
                                            parse_game_option};
    for (int i = 1; i < argc; ++i)
    {
        if (!strcmp(argv[i], "--help"))
        {
            print_usage(stdout);
            return 0;
        }
        option_parse parsed = _option_not_mine;
        for (size_t p = 0; p < NUMBER_OF(parsers) && parsed == _option_not_mine; ++p) parsed = parsers[p](argc, argv, &i, o);
        if (parsed == _option_refused) return usage(), 2;
        if (parsed == _option_not_mine)
        {
            fprintf(stderr, "vesk_sim: unexpected argument \"%s\"\n", argv[i]);
            return usage(), 2;
        }
    }
    if (!difficulty_fits_the_run(o)) return usage(), 2;
    return -1;
}

// The orders of --orders, when given; false (told) when the file is refused.
static bool read_orders_file(simulation_options *o)
{
    char why[512];
    if (!o->orders_path || read_unit_orders(o->orders_path, &o->orders, why, sizeof(why))) return true;
    fprintf(stderr, "vesk_sim: %s: %s\n", o->orders_path, why);
    return false;
}

// What a network game takes from the command line on either road: the data,
// map, version, players, length and random orders, and the wall limit
// (`default_seconds` when none is given).
static void pass_net_options(simulation_options *o, int64_t default_seconds)
{
    o->net.data_directory = o->data;
    o->net.map = o->map;
    o->net.gameplay_version = (int32_t)o->gameplay_version;
    o->net.players = (int32_t)o->net_players;
    o->net.ticks = (int32_t)o->ticks;
    o->net.random_orders = o->random_orders >= 0;
    o->net.random_orders_seed = (uint32_t)(o->random_orders < 0 ? 0 : o->random_orders);
    o->net.orders = o->orders.empty() ? nullptr : &o->orders;
    o->net.quit_at = o->quit_at < 0 ? (int32_t)NONE : (int32_t)o->quit_at;
    o->net.report = o->report ? print_report : nullptr;
    const int64_t limit_ms = (o->wall_limit > 0 ? o->wall_limit : default_seconds) * 1000;
    o->net.wall_limit_ms = (int32_t)(limit_ms < INT32_MAX ? limit_ms : INT32_MAX);
}

static std::string working_directory(void)
{
    char working[4096];
    return getcwd(working, sizeof(working)) ? working : ".";
}

static std::string path_from_working_directory(const char *path)
{
    return path[0] == '/' ? path : working_directory() + "/" + path;
}

// A game created or joined through a lobby service.
static int run_lobby_road(simulation_options *o, int argc, char **argv)
{
    if (!o->net.lobby || !o->net.user || !o->net.password || o->lobby_create == o->net.join_listed || o->ticks < 0 ||
        o->net_port >= 0 || o->net.join || o->net.find || o->film || o->continue_from ||
        o->input_path || o->save_path || !o->commands.empty() || camera_trace || o->seed >= 0 ||
        ((o->gameplay_version != NONE || o->net.cooperative || o->restart_at >= 0 || o->net.time_limit_seconds > 0) &&
         !o->lobby_create) ||
        o->net.chat || (o->map && strlen(o->map) != 4) ||
        (o->net.join_listed && (o->lobby_port >= 0 || o->net_players_given || o->map || o->net.then_direct)))
    {
        fprintf(stderr, "vesk_sim: the lobby road is --lobby HOST:PORT --user U --password W with --create "
                        "[--port P] [--players N] [--map TAG] [--coop] [--gameplay-version V] [--restart-at TICK [--rehost]] "
                        "[--time-limit SECONDS] [--then-direct] or "
                        "--join-listed, "
                        "and --ticks, [--orders FILE] [--report]; it takes no seed, "
                        "film to play, input, commands, camera or chat\n");
        return usage(), 2;
    }
    if (!read_orders_file(o)) return usage(), 2;
    if (strlen(o->net.password) > MAXIMUM_METASERVER_PASSWORD)
    {
        fprintf(stderr, "vesk_sim: a lobby password has at most %d characters\n", MAXIMUM_METASERVER_PASSWORD);
        return 2;
    }
    // Named from the working directory of the call, which the harness leaves.
    const std::string record_path = o->record ? path_from_working_directory(o->record) : "";
    if (!open_run_log(o->log, argc, argv)) return 1;
    pass_net_options(o, (o->lobby_games + (o->net.then_direct ? 1 : 0)) * (o->ticks / 30 + 30) + 60);
    o->net.record = record_path.empty() ? nullptr : record_path.c_str();
    o->net.port = (uint16_t)(o->lobby_port < 0 ? (int64_t)WELLKNOWN_VESK_PORT : o->lobby_port);
    o->net.restart_at = o->restart_at < 0 ? (int32_t)NONE : (int32_t)o->restart_at;
    o->net.games = (int32_t)o->lobby_games;
    const int status = run_lobby_simulation(&o->net);
    close_log_file();
    return status;
}

// A network game hosted, joined by address or found on the local network.
static int run_network_road(simulation_options *o, int argc, char **argv)
{
    const bool joining = o->net.join || o->net.find;
    if ((o->net_port >= 0) + (o->net.join != nullptr) + o->net.find != 1 || o->ticks < 0 || o->film ||
        o->continue_from || o->input_path || o->save_path || !o->commands.empty() || camera_trace ||
        (joining && (o->map || o->seed >= 0 || o->gameplay_version != NONE || o->net.cooperative)) ||
        (!joining && (!o->map || strlen(o->map) != 4 || o->seed < 0)) ||
        (joining && (o->restart_at >= 0 || o->net.time_limit_seconds > 0)) || (o->net.rehost && o->restart_at < 0))
    {
        fprintf(stderr, "vesk_sim: a network game is --net-host PORT with --map, --seed and --ticks, or "
                        "--net-join ADDRESS[:PORT] or --find with --ticks, [--orders FILE] [--report]; it takes no film to "
                        "play, input, commands or camera; only its host restarts it\n");
        return usage(), 2;
    }
    if (!read_orders_file(o)) return usage(), 2;
    // Named from the working directory of the call, which the harness leaves.
    const std::string record_path = o->record ? path_from_working_directory(o->record) : "";
    if (!open_run_log(o->log, argc, argv)) return 1;
    // A restarted game runs twice.
    pass_net_options(o, (o->restart_at >= 0 ? 2 : 1) * o->ticks / 30 + 60);
    o->net.seed = (uint32_t)(o->seed < 0 ? 0 : o->seed);
    o->net.port = (uint16_t)(o->net_port < 0 ? 0 : o->net_port);
    o->net.restart_at = o->restart_at < 0 ? (int32_t)NONE : (int32_t)o->restart_at;
    o->net.record = record_path.empty() ? nullptr : record_path.c_str();
    const int status = run_network_simulation(&o->net);
    close_log_file();
    return status;
}

// A run on this machine: its options agree, and its input and orders files
// are read.  Returns -1 to go on, or 2 after a usage error.
static int check_local_options(simulation_options *o)
{
    if (o->random_orders >= 0 || o->net_players_given || o->net.cooperative || o->wall_limit > 0 ||
        o->restart_at >= 0 || o->quit_at >= 0 || o->net.chat)
    {
        fprintf(stderr, "vesk_sim: --random-orders, --players, --coop, --restart-at, --quit-at, --wall-limit and --chat belong "
                        "to a network game\n");
        return usage(), 2;
    }
    if (o->film && (o->map || o->seed >= 0 || o->ticks >= 0 || !o->commands.empty() || o->record || o->orders_path ||
                    o->gameplay_version != NONE))
    {
        fprintf(stderr, "vesk_sim: --film gives the map, seed, version and length; it takes no --map, --seed, "
                        "--ticks, --command, --orders, --gameplay-version or --record\n");
        return usage(), 2;
    }
    if (o->continue_from && (o->film || o->map || o->seed >= 0 || o->ticks < 0 || !o->commands.empty() || o->record ||
                             o->save_path || o->input_path || o->gameplay_version != NONE))
    {
        fprintf(stderr, "vesk_sim: --continue gives the map, seed and version; it takes --ticks and --orders, and no "
                        "--map, --seed, --command, --film, --input, --record, --save-at or --gameplay-version\n");
        return usage(), 2;
    }
    if (o->save_path && (o->film || !o->commands.empty() || o->input_path || o->save_at > o->ticks))
    {
        fprintf(stderr, "vesk_sim: --save-at needs a seeded run (no --film, --command or --input) of at least its "
                        "ticks\n");
        return usage(), 2;
    }
    if (o->input_path)
    {
        char why[512];
        if (!read_input_events(o->input_path, &o->input.events, why, sizeof(why)))
        {
            fprintf(stderr, "vesk_sim: %s: %s\n", o->input_path, why);
            return usage(), 2;
        }
    }
    if (!read_orders_file(o)) return usage(), 2;
    if (o->record && !o->commands.empty())
    {
        fprintf(stderr, "vesk_sim: --record cannot be given with --command: those verbs act outside the command "
                        "stream, so the film could not replay them\n");
        return usage(), 2;
    }
    if (!o->film && !o->continue_from && (!o->map || strlen(o->map) != 4 || o->seed < 0 || o->ticks < 0))
        return usage(), 2;
    return -1;
}

// Runs the game on this machine from a map and seed, a film or a saved game,
// printing the trace; records a film or saves the game when asked.
static int run_local_simulation(simulation_options *o, int argc, char **argv)
{
    // Both name files in the working directory of the call, which the
    // harness leaves for the data directory.
    const std::string directory = working_directory();
    const std::string record_path = o->record ? (o->record[0] == '/' ? o->record : directory + "/" + o->record) : "";
    const std::string film_path = o->film ? (o->film[0] == '/' ? o->film : directory + "/" + o->film) : "";
    const std::string save_file =
        o->save_path ? (o->save_path[0] == '/' ? o->save_path : directory + "/" + o->save_path) : "";
    const std::string continue_path =
        o->continue_from ? (o->continue_from[0] == '/' ? o->continue_from : directory + "/" + o->continue_from) : "";

    // Before the harness enters the data directory: a relative FILE, like the
    // default log, names a file in the working directory of the call.
    if (!open_run_log(o->log, argc, argv)) return 1;

    char reason[512];
    int32_t film_ticks = 0;
    if (o->gameplay_version != NONE) set_simulation_gameplay_version((int32_t)o->gameplay_version);
    if (o->difficulty != NONE) set_simulation_difficulty_level((int16_t)o->difficulty);
    int32_t save_ticks = 0;
    const bool started =
        o->film ? start_simulation_from_film(o->data, film_path.c_str(), &film_ticks, reason, sizeof(reason))
        : o->continue_from
            ? start_simulation_from_saved_game(o->data, continue_path.c_str(), &save_ticks, reason, sizeof(reason))
            : start_simulation(o->data, string_to_tag(o->map), (uint32_t)o->seed, reason, sizeof(reason));
    if (o->continue_from)
    {
        // The orders before the save are in its film.
        std::vector<unit_order> later;
        for (const unit_order &order : o->orders)
            if (order.tick >= save_ticks) later.push_back(order);
        o->orders.swap(later);
    }
    if (o->film) o->ticks = film_ticks;
    if (!started)
    {
        fprintf(stderr, "%s\n", reason);
        close_log_file();
        return 1;
    }
    // A film never closed (its game was killed or crashed) has no ending
    // time: it replays to its last whole block, where the replay stops, and
    // the run says it was cut short rather than passing for a whole game.
    const bool cut_film = o->film && o->ticks <= 0;
    if (cut_film) o->ticks = CUT_FILM_TICK_LIMIT;
    if (o->input_path)
    {
        // The device events drive the input layer on this thread, tick by tick.
        o->input.orders = o->orders.empty() ? nullptr : &o->orders;
        take_over_keyboard_task();
        set_simulation_tick_procedure(feed_input_events_of_tick, &o->input);
    }
    else if (!o->orders.empty())
        set_simulation_tick_procedure(give_unit_orders_of_tick, &o->orders);
    if (camera_trace) start_camera_trace();
    bool ran, game_saved = true;
    if (o->save_path)
    {
        // Two runs meet at the save: the second starts with the save tick's
        // commands and orders, exactly where the first left off.
        ran = run_simulation_reporting((int32_t)o->save_at, o->commands.data(), (int32_t)o->commands.size(), nullptr,
                                       nullptr, print_tick, nullptr);
        if (ran) game_saved = save_simulation_game(save_file.c_str(), reason, sizeof(reason));
        if (ran && game_saved)
            ran = run_simulation_reporting((int32_t)(o->ticks - o->save_at), o->commands.data(),
                                           (int32_t)o->commands.size(), nullptr, nullptr, print_tick, nullptr);
    }
    else
        ran = run_simulation_reporting((int32_t)o->ticks, o->commands.data(), (int32_t)o->commands.size(), nullptr,
                                       nullptr, print_tick, nullptr);
    if (camera_trace) stop_camera_trace();
    const bool film_failed = (o->film || o->continue_from) && replay_failed();
    if (!game_saved)
    {
        stop_simulation();
        close_log_file();
        fprintf(stderr, "vesk_sim: %s\n", reason);
        return 1;
    }
    if (o->report && ran) print_report();
    const int32_t last_tick = game_->game_time;
    // A restore replays the saved game's film up to the save: its sync
    // checks hold as a film's do, and a game that left them says so.
    const int32_t out_of_step_tick = get_out_of_sync_tick();
    stop_simulation();
    bool film_written = true;
    if (o->record) film_written = save_simulation_film(record_path.c_str(), reason, sizeof(reason));
    close_log_file();
    if (!film_written)
    {
        fprintf(stderr, "vesk_sim: %s\n", reason);
        return 1;
    }
    if (fflush(stdout) != 0 || ferror(stdout))
    {
        fprintf(stderr, "vesk_sim: the trace could not be written\n");
        return 1;
    }
    if (cut_film)
    {
        fprintf(stderr, "vesk_sim: the film was cut short at tick %d: it replayed to its last whole block\n",
                (int)last_tick);
        return 1;
    }
    if (!ran)
    {
        fprintf(stderr, "the game stopped before tick %lld\n", (long long)o->ticks);
        return 1;
    }
    if (film_failed)
    {
        fprintf(stderr, "vesk_sim: the film could not be read to its end (see the log)\n");
        return 1;
    }
    if (out_of_step_tick != NONE)
    {
        fprintf(stderr, "vesk_sim: the %s went out of step at tick %d\n",
                o->film ? "film" : o->continue_from ? "saved game" : "game", (int)out_of_step_tick);
        return NET_RUN_OUT_OF_SYNC_EXIT;
    }
    return 0;
}

int main(int argc, char **argv)
{
    report_failed_writes();
    simulation_options options;
    options.net.gameplay_version = NONE;
    simulation_options *o = &options;
    const int parsed = parse_arguments(argc, argv, o);
    if (parsed >= 0) return parsed;
    // Without --data the game beside the program is run, as the game and
    // vesk_shot find theirs: called from anywhere, it plays the same data.
    static char program_directory[PATH_MAX];
    if (!o->data && get_executable_directory(program_directory, sizeof(program_directory)))
        o->data = program_directory;
    if (o->net.lobby || o->net.user || o->net.password || o->lobby_create || o->net.join_listed ||
        o->lobby_port >= 0 || o->lobby_games != 1 || o->net.hold_endgame || o->net.then_direct ||
        o->net.leave_after_ms > 0)
        return run_lobby_road(o, argc, argv);
    if (o->net_port >= 0 || o->net.join || o->net.find) return run_network_road(o, argc, argv);
    const int checked = check_local_options(o);
    if (checked >= 0) return checked;
    return run_local_simulation(o, argc, argv);
}
