#pragma once
// What the core, the units, the selection, the map scripts and the saved games
// ask of the console, in one table
// the console registers whole (`register_console_procedures`).  This header
// is the console's face to the layers below it.
//
// Every member may be null, and each is until the console registers its table; the
// default of a null member is said beside it.  The table is kept by pointer:
// register a static record.  A null table, or a second one, is refused with
// an assertion and changes nothing.
//
// Main thread only; register before the main loop starts.

#include <cstdint>

struct action_data; // input/action_queue.h
struct cached_line; // recording_format.h

struct console_procedures
{
    // ---- the core and the units ----
    // A line in the console (null member: not shown).
    void (*print_to_console)(const char *text);
    // Tells the player the game fell out of step (null member: nothing shown).
    void (*out_of_sync)(void);
    // A chat command ran: the sender, the chat flags and the text, at most
    // 192 characters (null member: the text goes to the log only).
    void (*chat_command)(int32_t player_index, uint32_t flags, const char *text);

    // ---- the selection (null members: the console takes no action, gives no
    // input, shows no prompt, text input or pop-up) ----
    // Whether the console took the action.
    bool (*handled_action)(const action_data *action);
    // 2: a line was finished (in `buffer`); 3: aborted; other: still typing or idle.
    int32_t (*input)(char *buffer, int32_t maximum_length);
    // The two prompts of a mode and its console menu (selection_console_menu).
    void (*prompts)(const char *first, const char *second, int32_t menu_mode);
    // Starts (with at most `maximum_length` characters) or stops the text input.
    void (*text_input)(bool start, int32_t maximum_length);
    // A pop-up of two texts, shown for `visible_ticks`.
    void (*popup)(const char *left, const char *right, int32_t visible_ticks);

    // ---- the map scripts ----
    // The mission: advances the campaign by `steps` (null member: nothing
    // advances).
    void (*advance_mission)(int32_t steps);

    // ---- the saved games (null members: a saved game keeps no lines) ----
    // The console's last 10 lines, out when saving (`count` of them) and back
    // in when restoring.
    void (*save_cached_console_text)(cached_line *buffer, int16_t *count);
    void (*restore_cached_console_text)(const cached_line *buffer, int16_t count);
};

bool register_console_procedures(const console_procedures *procedures);
// Never null: an empty table until one is registered.
const console_procedures *get_console_procedures(void);
