#pragma once
// The mouse cursor: when the pointer shows, and the sprite cursor.
//
// The pointer is the window system's.  While films, cutscenes, the intro and
// the prologue play, an idle pointer hides: it shows again for 60 ticks (two
// seconds) whenever the mouse moves or a button is pressed.  In a window and
// in every other state it always shows.  The sprite cursors are sequence 3 of
// the interface collection, one view per type.

#include <atomic>

#include "cseries/cseries.h"
#include "point2d.h"

struct action_data;
struct bitmap_data;

enum mouse_cursor_type
{
    _mouse_cursor_pointer = 0,
    _mouse_cursor_pointer_windows = 1,
    _mouse_cursor_pick_up = 2,
    _mouse_cursor_attack = 3,
    _mouse_cursor_move = 4,
    _mouse_cursor_waypoint = 5,
    _mouse_cursor_cannot_move = 6,
    NUMBER_OF_MOUSE_CURSOR_TYPES = 7
};

enum
{
    MOUSE_CURSOR_SEQUENCE_INDEX = 3,
    MOUSE_CURSOR_VISIBLE_TICKS = 60, // after the last movement or press
};

struct mouse_cursor_globals_data
{
    // Read on the keyboard task's thread while it fills an action.
    std::atomic<bool> cursor_is_visible;
    int16_t cursor_type;       // NONE when none
    int16_t collection_index;  // of the sprites; NONE when none
    int16_t sequence_index;    // always MOUSE_CURSOR_SEQUENCE_INDEX
    int16_t color_table_index; // the interface collection's
    int16_t view_index;        // = cursor_type
    int16_t bitmap_index;      // frame of the view, always 0
    point2d last_pointer;      // pointer of the last action seen
    int16_t cursor_visible_ticks;
    int16_t last_game_state;   // the state seen at the last update
};

// Start-up and leaving a map: no cursor type, no sprite.
void initialize_mouse_cursor(void);
void dispose_mouse_cursor_from_old_map(void);
// Each new map: the windows pointer (type 1) unless it is current already.
void initialize_mouse_cursor_for_new_map(void);

// Records `type` (0..6, asserted; another is refused) and, when the interface
// collection has its sprite, the sprite.  The current type changes nothing.
void set_mouse_cursor(int16_t type);

// Whether the pointer is shown now (any thread).
bool mouse_cursor_visible(void);

// Called first for every action the game processes (null: no action): counts
// the idle ticks down and shows or hides the pointer by the rules above.
void update_mouse_cursor_visibility(const action_data *action);

// Draws the sprite cursor with its registration point on the pointer; nothing
// without a sprite.
void rasterize_mouse_cursor(bitmap_data *destination);

// Read-only view of the record (tests, diagnostics).
const mouse_cursor_globals_data *get_mouse_cursor_globals(void);

// Fills the game's first action consumer and the input layer's visibility question.
void register_mouse_cursor_hooks(void);
