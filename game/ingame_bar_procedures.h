#pragma once
// What the screen, the dialog redraw and the renderer ask of the in-game bars
// (the control bar at the bottom, the status bar at the top), in one table the
// bars (game/ingame_bars) register whole (`register_ingame_bar_procedures`).
//
// Every member may be null, and each is until the bars register their table; a null
// member means no bar: hidden, 0 high, no dialog a bar, nothing updated or
// hidden.  The table is kept by pointer: register a static record.  A null
// table, or a second one, is refused with an assertion and changes nothing.
//
// Main thread only; register before the main loop starts.

#include <cstdint>

struct dialog_data; // bitmap_dialogs/bitmap_dialogs.h
struct rectangle2d; // point2d.h

struct ingame_bar_procedures
{
    // ---- the screen ----
    // The visible height in pixels of each bar, 0 when hidden.
    int16_t (*control_bar_height)(void);
    int16_t (*status_bar_height)(void);
    // Once per drawn frame, before the scene: keep the bars' buttons and texts current.
    void (*update_bars)(void);

    // ---- the dialog redraw: which dialog is a bar, so that translucent bars
    // are copied translucently ----
    bool (*is_control_bar)(const dialog_data *dialog);
    bool (*is_status_bar)(const dialog_data *dialog);

    // ---- the renderer ----
    // A bar's screen rectangle while it is shown (true).
    bool (*control_bar_visible)(rectangle2d *bounds);
    bool (*status_bar_visible)(rectangle2d *bounds);
    // Shows or hides both bars (screenshots hide them).
    void (*set_bars_visible)(bool control_bar_visible, bool status_bar_visible);
};

bool register_ingame_bar_procedures(const ingame_bar_procedures *procedures);
// Never null: an empty table until one is registered.
const ingame_bar_procedures *get_ingame_bar_procedures(void);
