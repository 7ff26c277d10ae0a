#pragma once
// The in-game bars joined to the layers below them: the screen's frame, the
// renderer's view and screenshots, the dialog layer's translucent bars and
// the console all ask the control bar (bottom) and the status bar (top) what
// they cover, through registration points this module fills.  It also makes
// and disposes both bars at the core's map step "bars" and keeps them
// current once per drawn frame.
//
// A bar covers the screen only while it exists and is shown: a bar whose
// dialog was refused never shortens the view.  Main thread only.
#include <cstdint>

struct dialog_data;
struct new_game_data;
struct rectangle2d;

// The map step "bars": the control bar (dialog '!cba', laid out for the
// screen, then shown when the game preference asks) and the status bar
// (dialog '!sba').  A missing bar is logged by its module and the map goes
// on without it: never false.  A headless run (no screen) makes neither.
bool initialize_ingame_bars_for_new_map(const new_game_data *data);
// Disposes both bars (status bar first: the reverse of their making).
void dispose_ingame_bars_from_old_map(void);
// Once per drawn frame: update_control_bar, then update_status_bar; first,
// when the screen's size is no longer the one the bars were made for (a
// custom resolution during the game), both bars and the overhead map are
// laid out again for the new size.
void update_ingame_bars(void);

// The screen rectangle a bar covers: true and `bounds` filled while the bar
// exists and is shown; false (bounds untouched) otherwise.
bool control_bar_covers(rectangle2d *bounds);
bool status_bar_covers(rectangle2d *bounds);
// The height a bar takes from the screen, 0 while it does not cover it.
int16_t control_bar_covered_height(void);
int16_t status_bar_covered_height(void);

// Screenshots of the scene hide both bars and then show them again as they
// were: the control bar returns to its order buttons or its inventory row,
// and the game preferences end as they began.
void set_ingame_bars_visible(bool control_bar_visible, bool status_bar_visible);

// Fills the map step "bars", the screen's bar heights and per-frame update,
// the renderer's bar rectangles and screenshot switch, the dialog layer's
// bar predicates and the console's bar queries.
void register_ingame_bar_hooks(void);
