#pragma once
// The progress dialog: one at a time, a message and usually a bar while the
// main thread does long work (loading a map, fast-forwarding a restored
// saved game, a task that reports fractions).  The work runs between the
// calls, so the dialog is drawn directly (draw_dialogs_immediately) rather
// than by the main loop.  Every operation goes through progress_function.
//
// Dialogs: 'bina' 'prdb' (with a bar) over the collection 'inpb', and 'prdn'
// (without) over 'innb', both sequence 0.  A data set without the dialog's
// tag shows nothing (logged once per opening); the calls still count.
//
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"

struct dialog_data;

#define PROGRESS_DIALOG_WITH_BAR_TAG FOUR_CHARACTER_CODE('p', 'r', 'd', 'b')
#define PROGRESS_DIALOG_WITHOUT_BAR_TAG FOUR_CHARACTER_CODE('p', 'r', 'd', 'n')
#define PROGRESS_BAR_BACKGROUND_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 'p', 'b')
#define PROGRESS_PLAIN_BACKGROUND_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 'n', 'b')
// Row 0 "loading <map>" (one %s), row 1 "restoring <saved game>" (one %s),
// row 2 the map dialog's second line.
#define PROGRESS_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', '0', '5')

enum
{
    MAXIMUM_COUNT_GUESS = 42, // the steps of a map load when nobody knows better
    PROGRESS_DELAY_MILLISECONDS = 5000, // verb 2: nothing drawn before this
    PROGRESS_FULL = 256,
};

// The dialog's items.
enum progress_dialog_item
{
    _progress_message_item = 1,
    _progress_cancel_item = 2,
    _progress_bar_item = 3,
    _progress_second_line_item = 4,
};

// The verbs of progress_function.
enum progress_verb
{
    _progress_open_with_bar = 0,    // 'prdb', text the message ("Loading..." when null)
    _progress_open_without_bar = 1, // 'prdn'
    _progress_open_delayed = 2,     // as 0, cancel hidden, nothing drawn for 5000 ms
    _progress_close = 3,
    _progress_modal_pass = 4,       // one pass of the dialog's modal loop: 1 when cancel was hit
    _progress_set_bar = 5,          // value 0..256
    _progress_set_message = 6,      // text
    _progress_draw_now = 7,
    NUMBER_OF_PROGRESS_VERBS
};

// One verb (above) with its text and value.  Opening while a dialog is open
// is refused (assertion "!progress_bar_globals.dialog"); verbs 3, 5, 6 and 7
// do nothing without an open dialog; verb 4 asserts one is open; setting the
// bar of a dialog without one asserts "progress_bar_globals.has_bar"; an
// unknown verb logs "halt".  Every verb returns 0 but 4.
int32_t progress_function(int16_t verb, const char *text, int32_t value);

// Whether a progress dialog is open (its tag may be missing: see above).
bool progress_dialog_is_open(void);
// The bar's value as last set (0..256); 0 when closed.
int32_t get_progress_bar_value(void);
// The open dialog, null when closed or when its tag was missing.
dialog_data *get_progress_dialog(void);

// ---- map loading ----------------------------------------------------------------

// Opens the dialog with 'in05' row 0 formatted with the map's name, 42 steps
// expected, cancel hidden; with `with_second_line` item 4 shows row 2.
void open_map_loading_progress_dialog(tag mesh_tag, bool with_second_line);
// The steps the open map dialog expects, when the caller knows them (the
// core reports its map steps with their count); below 1 counts as 42.
void expect_map_loading_progress_steps(int32_t steps);
// One step: bar = steps × 256 / expected steps (42 when that is below 1),
// never past 256 however many steps come; then drawn.
void update_map_loading_progress_dialog(void);
// Back to an empty bar without the second line.
void reset_open_map_progress_dialog(void);
// Closes it; the steps reached become the next load's expectation.
void close_map_loading_progress_dialog(void);

// ---- restoring a saved game ------------------------------------------------------

// Opens the dialog with 'in05' row 1 formatted with the saved game's name,
// `steps` expected, cancel hidden.
void open_save_game_restoring_progress_dialog(int32_t steps);
void update_save_game_progress_dialog(void);
void close_save_game_progress_dialog(void);

// ---- fractional progress ------------------------------------------------------------

enum
{
    PROGRESS_TITLE_SIZE = 4096,
};

// Opens the dialog with a bar and `title`; cancel enabled with `can_cancel`.
void open_fractional_progress_dialog(const char *title, bool can_cancel);
// Bar = fraction × 256 (0.0-1.0, truncated and clamped), drawn; a `message`
// differing from the last one shown replaces it; then one modal pass: true
// when the player cancelled.
bool update_fractional_progress_dialog(float fraction, const char *message);
void close_fractional_progress_dialog(void);

// Test support: closes any dialog and forgets the counts.
void reset_progress_dialog(void);
