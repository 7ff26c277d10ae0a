#pragma once
// The story dialogs of a campaign level.  Before a level its prologue ('prdi')
// plays: a big map fades in and is held, the small map with the level's title
// fades in, a narrated story text scrolls with timed inset pictures, all
// fades out and the level's opening movie plays.  After a level its epilogue
// plays the win or loss movie, perhaps the campaign's closing text ('inge'),
// and shows 'epdi' with the post-game report, from which the player goes on
// to the next level, plays it again, restores a saved game or leaves.
//
// Both run on one loop that steps a fade or presentation procedure once per
// period of the game's local time, inside a modal dialog, so input and
// drawing go on while it waits.  Every dialog is made, run and disposed
// within one call.  Missing art, texts or dialogs skip the presentation and
// the flow goes on.  Main thread only.

#include <cstdint>

#include "cseries/cseries.h"

struct dialog_data;
struct action_data;

#define PROLOGUE_DIALOG_TAG FOUR_CHARACTER_CODE('p', 'r', 'd', 'i')
#define EPILOGUE_DIALOG_TAG FOUR_CHARACTER_CODE('e', 'p', 'd', 'i')
#define CLOSING_TEXT_DIALOG_TAG FOUR_CHARACTER_CODE('i', 'n', 'g', 'e')
#define CLOSING_TEXT_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 'g', 'e')
#define CLOSING_TEXT_STRING_TAG FOUR_CHARACTER_CODE('e', 'p', 'i', 'l')
#define CLOSING_TEXT_SOUND_TAG FOUR_CHARACTER_CODE('n', 'a', 'e', 'p')
#define DEFAULT_WIN_AMBIENT_SOUND_TAG FOUR_CHARACTER_CODE('w', 'i', 's', 'c')
#define DEFAULT_LOSS_AMBIENT_SOUND_TAG FOUR_CHARACTER_CODE('l', 'o', 's', 'c')
// The tutorial map, which has no epilogue.
#define TUTORIAL_MESH_TAG FOUR_CHARACTER_CODE('m', 't', '0', '0')

enum
{
    MAXIMUM_INSET_GRAPHICS = 20,
    MAXIMUM_INSET_DURATIONS = 19,
    PROLOGUE_BIG_MAP_HOLD_TICKS = 150, // steps 0..150
    STORY_FADE_IN_STEPS = 6,
    STORY_FADE_OUT_STEPS = 8,
    PROLOGUE_TEXT_PERIOD = 3,
    CLOSING_TEXT_PERIOD = 4,
    STORY_TEXT_INITIAL_DELAY = 150,
    STORY_SOUND_FADE_OUT_TICKS = 15,
};

// cached_endgame_state.
enum
{
    _story_endgame_none = 0,
    _story_endgame_successful_victory = 1,
    _story_endgame_failed_victory = 2,
    _story_endgame_loss = 3,
};

// The epilogue's results: the item that ended 'epdi', or its default.
enum
{
    _epilogue_result_next_level = 2,
    _epilogue_result_restore = 3,
    _epilogue_result_restart = 4,
    _epilogue_result_main_menu = 5,
    _epilogue_result_next_level_after_success = 6,
    EPILOGUE_SAVE_FILM_ITEM = 9,
};

// One story dialog's loop state.
struct anylogue_state
{
    dialog_data *dialog;
    int16_t collection_index;
    int16_t item_hit; // NONE while none
    bool abortable;   // a key or double click ends the current phase
    bool done;        // the phase is over
    int32_t start_local_time, target_local_time;
    // The reading time left once the story text has scrolled in (ticks).
    int32_t reading_ticks_left = 0;
};

// How long a story text stays once it has scrolled in before the story goes
// on by itself (a key goes on at once): a reader's 15 characters a second,
// at least 8 and at most 60 seconds, in ticks.  A short text reached its
// place after some 20 seconds and was gone before it could be read.
int32_t story_reading_ticks(const char *text);

// The prologue's inset pictures.
struct inset_graphic_globals
{
    int16_t frame_index; // NONE before the first picture
    int16_t count;
    int32_t first_tick; // milliseconds
    int16_t caption_string_list_index; // NONE: no captions
    int32_t ticks[MAXIMUM_INSET_GRAPHICS]; // cumulative millisecond at which each picture ends
};

typedef void (*anylogue_step_procedure)(anylogue_state *state, int32_t fraction);
typedef void (*anylogue_item_hit_procedure)(anylogue_state *state, int16_t item_hit);

// The story-dialog loop: steps 0, 1, ... up to `frames` (forever for -1)
// while `done` is false; each step calls `step` (may be null) with the
// fraction min(step x 256 / frames, 255), then runs the dialog until the
// local time has advanced `period` ticks past the previous target (or the
// phase is ended), and hands an item hit to `item_hit` (may be null).
void handle_anylogue_dialog(anylogue_state *state, int32_t frames, int32_t period, anylogue_step_procedure step,
                            anylogue_item_hit_procedure item_hit, bool abortable);
// The modal procedure of that loop: with an action, Escape, Space, Return or
// a double click end an abortable phase; without one, the pass ends once the
// phase is done or the target time is reached.
bool prologue_dialog_loop_update(void *state, action_data *action);

// The prologue of `mesh_tag`, then its movie 0.
void display_mesh_prologue(tag mesh_tag);
// The epilogue of `mesh_tag` after the cached endgame state; without
// `show_dialog` only the movie and the closing text play and the game state
// is left alone.
void display_mesh_epilogue(tag mesh_tag, bool show_dialog);
// The campaign's closing text.
void display_game_epilogue(void);
// After a successful victory the level's first next level becomes visited.
void mark_next_level_as_visited(tag mesh_tag);
void cache_endgame_state(int16_t state);
int16_t get_cached_endgame_state(void);

// The entries of the prologue, epilogue and running states.
void enter_prologue_state(void);
void enter_epilogue_state(void);
void enter_running_state_for_story(void);
// Leaving a game caches how it ended for the epilogue.
void leave_running_state_for_story(void);

// ---- the pure rules, exposed for tests ----------------------------------------------

// min(step x 256 / frames, 255); 255 for frames 0.
int32_t anylogue_fraction(int32_t step, int32_t frames);
// The comma-separated durations in seconds of `text` added up into
// `ticks` (milliseconds), at most MAXIMUM_INSET_DURATIONS; the count.
// Parsing stops at the first field that is not a whole number of seconds.
int16_t parse_inset_durations(const char *text, int32_t ticks[MAXIMUM_INSET_GRAPHICS]);
// The picture to show `elapsed` milliseconds into the text; NONE without pictures.
int16_t inset_picture_index(const inset_graphic_globals *globals, int32_t elapsed);

// What an epilogue does for an outcome.
struct epilogue_outcome
{
    int16_t movie;          // cutscene 1 (win), 2 (loss) or NONE
    int16_t picture;        // the background frame
    int16_t default_result; // _epilogue_result_next_level or _restore
    bool can_continue;      // the next-level branch of 'epdi'
    bool closing_text;      // the campaign's closing text plays
};
epilogue_outcome choose_epilogue_outcome(int16_t endgame_state, const tag next_mesh_tags[2], bool last_level,
                                         int16_t tag_file_type, bool fallback_art);

// Where a result leads.
enum
{
    _epilogue_goes_to_main_menu,
    _epilogue_goes_to_level,           // `level` with its prologue, autosaved
    _epilogue_goes_to_restart,         // the same level at once, no prologue
    _epilogue_goes_to_restore_or_retry // the last saved game, else the level again with its prologue
};
struct epilogue_step
{
    int16_t goes_to;
    tag level;
};
epilogue_step epilogue_result_step(int16_t result, int16_t endgame_state, const tag next_mesh_tags[2]);

// The epilogue's endgame state from the game record's: a loss unless the
// local team's side won; then a failed victory where the script said so,
// else a successful one.
int16_t story_endgame_state_from_game(int16_t game_endgame_state, bool local_team_won);
// The report's title (statistics.h's postgame_outcome) for an epilogue of
// `story_state`: won exactly when the epilogue goes on to a next level (a
// failed victory only with a level after failure), else the game's own
// outcome for the local team, never won.
int16_t epilogue_report_outcome(int16_t story_state, int16_t game_outcome, const tag next_mesh_tags[2]);
