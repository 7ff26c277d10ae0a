#pragma once
// The console's menu: an overlay list at the lower right of the view with the
// local player's teammates and their share of the army, the other teams with
// their alliance marks, or the inventory of the one selected unit.  The
// selection code opens and closes it; it fades out over a quarter second.
// Its times are machine milliseconds (machine_tick_count).
//
// Main thread only.

#include <cstddef>
#include <cstdint>

struct view_data;

enum console_menu_mode
{
    _console_menu_none = -1,
    _console_menu_teammates = 0,
    _console_menu_teams = 1,
    _console_menu_inventory = 2,
    _console_menu_inventory_briefly = 3, // shown for 1750 ms, then closes by itself
    NUMBER_OF_CONSOLE_MENU_MODES
};

enum
{
    CONSOLE_MENU_FADE_MILLISECONDS = 250,
    CONSOLE_MENU_BRIEF_MILLISECONDS = 1500, // added to the fade for mode 3
    CONSOLE_MENU_ROW_HEIGHT = 22,
    CONSOLE_MENU_ROW_SPACING = 26,
    CONSOLE_MENU_ROW_WIDTH = 290,
    CONSOLE_MENU_INVENTORY_ROW_WIDTH = 435,
    CONSOLE_MENU_INVENTORY_STRING_SIZE = 256,
};

// Allocated once at start-up.
struct menu_globals_data
{
    bool initialized;
    bool finite_duration;       // the menu closes by itself at last_visible_tick
    int32_t last_visible_tick;  // machine milliseconds: the end time
    int32_t menu_mode;          // console_menu_mode
};

// Null until initialize_console_menu (or when its allocation failed).
const menu_globals_data *get_console_menu_globals(void);

void initialize_console_menu(void);
void initialize_console_menu_for_new_map(void);
void dispose_console_menu_from_old_map(void);

// -1 closes (an open menu without an end first gets 250 ms more), another
// mode opens it; mode 3 closes itself 1750 ms later.  Before the map's start:
// a logged assertion and nothing else.
void set_console_menu_mode(int32_t new_mode);

// The menu's text and background transparencies at `now` (machine
// milliseconds) without drawing: false while nothing would be shown (a finite
// menu past its end is closed here, as when drawn).
bool get_console_menu_transparency(uint32_t now, uint16_t *text_transparency, uint16_t *background_transparency);

// Draws the menu over the view (from rasterize_console).
void rasterize_console_menu(view_data *view);

// ---- what the menu asks of the selection --------------------------------------------
// The inventory menu calls the selection directly (game/selection_interface.h):
// the unique selected unit's inventory, and each row's text (numbered, the
// check mark on the selected entry, item counts shown).  Without such a unit
// the menu closes at once.

// Tests only: replaces those calls, so that the menu's rows are drawn without
// units.  `get_inventory` (rebuilt first with `rebuild`) answers the entry
// count and the selected entry, false when there is none; `format_inventory`
// writes the row of `entry` (-1 the unit itself, 0..count-1 its items).  A
// null member keeps the real call; a null table restores both.  Returns the
// previous table (null when none).  The program never calls it.
struct console_menu_selection_procedures
{
    bool (*get_inventory)(bool rebuild, int32_t *count, int32_t *selected_entry);
    void (*format_inventory)(int32_t entry, char *buffer, size_t size);
};
const console_menu_selection_procedures *set_console_menu_selection_procedures(
    const console_menu_selection_procedures *procedures);
