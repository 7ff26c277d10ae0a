#pragma once
// The decisions of a network game's set-up, without its dialog: who may
// start, what starting does on the host, and how the set-up ends (the game
// to start, a cooperative game continued, or leaving).  The set-up dialog
// binds its items to these; tools and tests drive them directly.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "game_records.h"

struct net_game_description;

// Items of the set-up dialog ('ne#1').
enum netgame_setup_item
{
    _netgame_setup_game_item = 2, // the description
    _netgame_setup_settings_item = 3,
    _netgame_setup_leave_item = 4,
    _netgame_setup_start_item = 5,
    _netgame_setup_player_list_item = 6,
    _netgame_setup_chat_log_item = 8,
    _netgame_setup_chat_entry_item = 9,
    _netgame_setup_send_chat_item = 10,
    _netgame_setup_teams_item = 11,
    _netgame_setup_boot_item = 12,
    _netgame_setup_close_item = 13,
    _netgame_setup_remove_from_team_item = 14,
    _netgame_setup_lock_item = 15,
    _netgame_setup_ready_item = 16,
    _netgame_setup_game_starts_item = 100, // posted by the host's start: every dialog ends
    _netgame_setup_continue_item = 101, // a cooperative series goes on
    _netgame_setup_tabs_item = 125,
};

#define NETGAME_SETUP_DIALOG_TAG FOUR_CHARACTER_CODE('n', 'e', '#', '1')

enum
{
    MAXIMUM_COOPERATIVE_HUMAN_PLAYERS = 14,
    BLACKLISTED_BUILD_NUMBER_0 = 355,
    BLACKLISTED_BUILD_NUMBER_1 = 422,
    MINIMUM_ORDER_GAME_TEAM_SIZE = 3,
    MINIMUM_COOP_VETERANS_VERSION = 2170,
    TEAM_CAPTAIN_RULES_VERSION = 2182, // from this version a watching host's team is no team
};

// ---- ready marks ------------------------------------------------------------

// The start item (host only) is enabled by enough_players_agree_to_start_game
// (vesk_netsync.h).

// The settings changed (host): every player who is not persistently ready
// stops being ready (each changed record published).
void netgame_setup_clear_ready_marks(void);

// The ready item: a player who is not ready becomes ready, persistently
// when Shift chose it (or, with `persistent_by_preference`, unless Shift is
// held); one who is ready stops being ready.  Returns the text to show when
// Shift chose, else null.
const char *netgame_setup_toggle_ready(bool shift_held, bool persistent_by_preference);

// ---- starting (the host's start item) -----------------------------------------

enum netgame_start_result
{
    _netgame_start_sent = 0, // description and the start item sent to everybody
    _netgame_start_not_host, // refused: only the host starts (logged)
    _netgame_start_blacklisted_builds, // refused; the message asks the players to upgrade
    _netgame_start_too_many_for_coop, // a question: boot the extra players and start?
    _netgame_start_refused, // the game's version cannot be played (logged)
};

// Starts the game from the host's description: refuses while a player runs
// a blacklisted build (unless `autohost`); a cooperative game of more than
// 14 players asks first (unless `autohost` or `boot_extra_players`), then
// boots the last players down to 14; removes the gameplay plug-ins, decides
// the order-game rule, sends the cooperative veterans, the description, then
// the start item.  The game plays the gameplay version the host's
// description names (identifier and patch bits); it is refused, naming the
// player, while a player's version cannot play it.  `message` (may be null)
// gets the text to show or ask for the refusals and question.
netgame_start_result netgame_setup_start(bool autohost, bool boot_extra_players, char *message, size_t size);

// The pieces of the start, for the dialog's view and the tests:
// An order game: at least two teams, nobody outside a team, and in every
// team at least three players, all of one order other than 0.
bool players_make_order_game(const new_player_data *players, int16_t count);
// The version identifier and build number the players can all play: the
// oldest version among them (2151 at least, this program's at most, and no
// newer than `description_version`) and the lowest build among those with
// the oldest.
void compute_start_version(const new_player_data *players, int16_t count, int32_t description_version,
                           int32_t *version_identifier, int32_t *build_number);

// ---- endings ------------------------------------------------------------------

// Ends the set-up on `item`: 100 (the game starts: `data` gets its
// parameters and players, computer players of a cooperative game added, the
// players at game start remembered), 101 (a cooperative series continues
// with the players at the last start) or 4 (leaving).  For 100, a local
// player who is not ready (unless `start_immediately`) ends with false.
// Every way out refuses connections, forgets the dialog and, on the host,
// gives `game` the host's description, saves the networking preferences and
// drops the host's copy.  True when a game is to start; then the state is
// idle, else `old_state` is restored.
bool netgame_setup_finish(int16_t item, bool start_immediately, int16_t old_state, new_game_data *data,
                          net_game_description *game);

// The players of a starting game as they enter `data` (step of
// netgame_setup_finish, for tests): sorted, the shared captain of a
// cooperative game, and its computer players while there is room.
void build_game_start_players(const new_player_data *players, int16_t count, int32_t local_player_id,
                              new_game_data *data);

// ---- the automatic host ---------------------------------------------------------

enum
{
    AUTOHOST_SETTLING_MS = 5000,      // the wait after a game's settings were set
    AUTOHOST_COUNTDOWN_SECONDS = 20,
    AUTOHOST_COUNTDOWN_FIRST_UPDATE_SECONDS = 10,
    AUTOHOST_COUNTDOWN_UPDATE_PERIOD_SECONDS = 5,
};

// Who is ready among the players the automatic host waits for: everybody
// but the host and the members of the host's own team.
struct autohost_readiness
{
    int16_t players;     // T
    int16_t ready;       // R
    int16_t ready_teams; // K: teams with a ready member; a ready player in no team is a team of his own
};
autohost_readiness count_autohost_readiness(const new_player_data *players, int16_t count, int32_t host_id);
// R >= max(2, (T + 1) / 2) and K >= 1 in a cooperative game, 2 otherwise.
bool autohost_players_may_start(const autohost_readiness &readiness, bool cooperative);

// The automatic host's countdown, kept between passes of the set-up.
struct autohost_countdown
{
    bool running;
    uint32_t start_ms;            // machine milliseconds
    int32_t next_update_seconds;  // the next announcement, in seconds after the start
};

enum autohost_countdown_event
{
    _autohost_countdown_quiet = 0,
    _autohost_countdown_begun,     // 20 seconds to go
    _autohost_countdown_announced, // `seconds_left` to go (10, then 5)
    _autohost_countdown_finished,  // start the game (the countdown stops)
    _autohost_countdown_aborted,   // the players stopped being ready (the countdown stops)
};

// One pass of the countdown at `now`: it begins once the players may start
// and AUTOHOST_SETTLING_MS have passed since `settled_ms`, announces at 10
// and 15 seconds, finishes after 20 and is aborted when the players no
// longer may start.  Times are machine milliseconds (differences wrap).
autohost_countdown_event advance_autohost_countdown(autohost_countdown *countdown, bool players_may_start,
                                                    uint32_t now, uint32_t settled_ms, int32_t *seconds_left);
