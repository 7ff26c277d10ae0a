#pragma once
// The in-game console: messages, chat, warnings and the typed line.
//
// Any subsystem prints short lines with cprintf or cputs; each is shown over
// the bottom of the battlefield for a while and then fades out.  The last ten
// lines are kept in a backlog (shown instead while the chat display is
// toggled, and kept in saved games).  The console also owns the one-line text
// input with its two prompts, the centred error or warning banner, the
// "JOINING GAME" notice, and draws the menu and the popup line of its
// companions (console_menu.h, console_popup.h).
//
// The recent lines live in one 4096-byte pool, newest first, each with its
// terminator; the oldest lines are dropped to make room, so the pool never
// holds more than 4096 bytes and the line count never exceeds the mode's
// maximum.  Times are ticks of the local clock (game_->local_time) unless
// stated.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/cseries.h"
#include "cseries/byte_swapping.h"
#include "recording_format.h" // cached_line: the backlog as saved games keep it
#include "rgb_color.h"

struct action_data;
struct view_data;
struct rectangle2d;

enum
{
    // A line is shorter than this (terminator included).
    CONSOLE_LINE_BUFFER_SIZE = 1024,
    MAXIMUM_CONSOLE_STRING_POOL_SIZE = 4096,
    MAXIMUM_CONSOLE_LINES = 50,
    MAXIMUM_CACHED_CONSOLE_LINES = NUMBER_OF_CACHED_CONSOLE_LINES,
    CACHED_CONSOLE_LINE_SIZE = CACHED_LINE_STRING_SIZE,
    CONSOLE_PROMPT_SIZE = 129,
    // A warning banner's text is copied into a buffer of this size.
    CONSOLE_WARNING_SIZE = 256,
    // The typed line shows at most this many characters.
    MAXIMUM_CONSOLE_INPUT_DISPLAY_LENGTH = 192,
    CONSOLE_EFFECT_PRIORITY = 1,
    // The width of the player's name box at the left of a chat line.
    CONSOLE_NAME_BOX_WIDTH = 100,
};

enum console_mode
{
    _console_mode_long = 0,  // 50 lines, each solid for 180 ticks
    _console_mode_short = 1, // 6 lines, each solid for 90 ticks
};

enum console_input_state
{
    _console_input_idle = 0,
    _console_input_typing = 1,
    _console_input_accepted = 2,  // return or keypad enter
    _console_input_cancelled = 3, // a mouse press ended it
};

// The errors the banner shows (rows of the string list 'ince').
enum
{
    CONSOLE_ERRORS_STRING_LIST_TAG = FOUR_CHARACTER_CODE('i', 'n', 'c', 'e'),
    _console_error_general = 0,
    _console_error_out_of_sync = 1,
    _console_error_assert = 2, // "ASSERT ENCOUNTERED" when the list lacks it
};

struct console_line
{
    int16_t owner_player_index;     // NONE: no player
    int32_t local_time_of_creation;
    int32_t size;                   // text length plus its terminator
};

struct edittext_data;

struct console_globals_data
{
    bool initialized;
    int16_t mode;                   // console_mode
    int16_t state;                  // 1: recent lines, 0: the backlog
    int16_t error;                  // a row of 'ince', NONE for none
    int16_t line_count;             // 0..maximum_line_count
    console_line lines[MAXIMUM_CONSOLE_LINES]; // newest first
    char warning[CONSOLE_WARNING_SIZE]; // empty: no warning
    int32_t warning_end_time;       // game_time at which the warning stops
    int32_t solid_line_time;        // 180 or 90
    int32_t string_pool_size;       // 0..MAXIMUM_CONSOLE_STRING_POOL_SIZE
    char string_pool[MAXIMUM_CONSOLE_STRING_POOL_SIZE]; // texts of `lines`, newest first
    char left_prompt[CONSOLE_PROMPT_SIZE], right_prompt[CONSOLE_PROMPT_SIZE];
    int32_t errors_string_list_index;
    int16_t maximum_line_count;     // 50 or 6
    int16_t input_state;            // console_input_state
    int32_t input_ticks;            // local time of the last key typed (the caret's blink phase)
    edittext_data *input_edittext;  // the typed line; null outside a map
    cached_line cached_lines[MAXIMUM_CACHED_CONSOLE_LINES]; // oldest first
    int16_t cached_line_count;      // 0..10
};

// The record, read-only (drawing code of the companions, tests).
const console_globals_data *get_console_globals(void);
// Line `index` (0 = newest) of the recent lines; null outside 0..line_count-1.
const char *get_console_line_text(int32_t index);

// ---- life cycle ----------------------------------------------------------------------

// Start-up: registers rasterize_console as post-rasterization effect 1 and
// starts the menu, popup and mission-text modules.
void initialize_console(void);
// A map begins: a cleared record in the mode of the last set_console_mode
// (initially 1), the input field, no prompts, the 'ince' list; then the menu,
// popup and mission text.  A second call without a dispose is a logged
// assertion; the old map's console is disposed first.  Never fails.
bool initialize_console_for_new_map(void);
void dispose_console_from_old_map(void);

// Stores `mode` for every later map and applies it now; another mode is a
// logged "halt" assertion and changes nothing.
void set_console_mode(int16_t mode);
// Recent lines <-> backlog (only while a map runs).
void toggle_console_state(void);

// ---- messages ------------------------------------------------------------------------

// Formats a line (at most 1021 characters before the "\r" it ends with) and
// adds it as cputs(replace, NONE, text, NONE).  Nothing before the console is
// initialized or with a null format.
void cprintf(bool replace, const char *format, ...) __attribute__((format(printf, 2, 3)));
// Adds one line (`buffer` cut at 1023 bytes): with `replace` it replaces the
// newest.  A line of a player in the game also goes to the network game's
// chat back log with `chat_mode`; an owner other than NONE that is no player
// of the game is logged and the line shown without a player.  Nothing
// outside a map or for a null buffer.
void cputs(bool replace, int32_t owner_player_index, const char *buffer, int32_t chat_mode);
// Splits a chat message (at most 1023 characters) into lines that fit the
// screen's width (less the name box for a player) and adds each.
void append_chat(int32_t owner_player_index, const char *buffer, int32_t mode);

// Shows `message` (copied, at most 255 characters) in the banner until
// game_time reaches now + display_ticks.  Null clears it.
void set_console_warning(const char *message, int32_t display_ticks);
// The first error stays until the next map; NONE otherwise.
void set_console_error(int16_t error);

// A pending error's text as a console line, when the console shows a game
// running: true.  False (nothing printed) otherwise, or for an empty text;
// the front end then shows it in its message dialog.
bool print_error_on_console_in_game(const char *text);
int16_t get_console_error(void);

// The once-per-game "assert encountered" notice: one flag, the game core's.
bool console_assert_logged(void);
void set_console_assert_logged(bool logged);

// ---- the typed line --------------------------------------------------------------------

// Copies both prompts (at most 128 characters each); null empties one.  The
// input line is shown while either is set.
void set_console_prompts(const char *left, const char *right);
// Starts typing with `default_string` (null: empty), at most
// `maximum_length` characters (clamped to 0..255).  Nothing without an input field.
void start_console_input(const char *default_string, int32_t maximum_length);
void stop_console_input(void);
// 0 when idle; else the typed text into `buffer` (`maximum_length` bytes,
// terminator included) and the input state.
int32_t get_console_input(char *buffer, int32_t maximum_length);
int32_t get_console_input_state(void);
// While typing: return and keypad enter accept (handled), a left or right
// press cancels (not handled, the click goes on to the game), everything else
// goes to the field (handled).  Otherwise not handled.
bool console_handled_action(const action_data *action);

// The backlog: the 10 lines (oldest first) and their count out, or in (a
// count outside 0..10 is clamped, each text terminated).
void save_cached_console_text(cached_line *buffer, int16_t *count);
void restore_cached_console_text(const cached_line *buffer, int16_t count);

// ---- drawing ---------------------------------------------------------------------------

// The post-rasterization effect: lines or backlog, banner or popup, the
// joining notice, the input line, the menu.  Drops lines that have faded.
void rasterize_console(view_data *view);

// ---- what the console asks of later subsystems ----------------------------------------

// The control bar's screen rectangle while shown (true; false, `bounds`
// untouched, while hidden or without a bar) and the status bar's height in
// pixels (0 hidden), from the in-game bars of this library (ingame_bars.h).
bool console_control_bar_visible(rectangle2d *bounds);
int16_t console_status_bar_height(void);

// Fills the core's console printer and start-up step "console", the map step
// _map_console, the selection's console points, the chat command and the
// mission action.
void register_console_hooks(void);
