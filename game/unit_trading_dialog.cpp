// The unit trading dialog.

#include "unit_trading_dialog.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "bitmap_dialogs/double_arrow_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "game_records.h"
#include "game_time.h"
#include "ingame_dialog_support.h"
#include "monster_definitions.h"
#include "monster_placement.h"
#include "players.h"
#include "screen.h"
#include "shapes.h"
#include "status_bar.h"
#include "unit_definitions.h"
#include "vesk/string_lists.h"

enum
{
    // Draw-string flags of the header and points lines.
    UNIT_TRADING_POINTS_TEXT_FLAGS = 36,
    // The update passes: the dialog checks each tick whether the clock started.
    UNIT_TRADING_SLEEP_TICKS = 1,
    UNIT_NAME_ROW = 1, // the unit's plural in its spelling list
};

static const uint32_t header_text_flags[] = {32, 36, 36, 32};

static unit_trading_globals unit_trading_globals = {0, 0, nullptr, nullptr};

static int16_t entry_item(int16_t entry, int16_t offset)
{
    return (int16_t)(_unit_trading_first_entry_item + UNIT_TRADING_ITEMS_PER_ENTRY * entry + offset);
}
static int16_t count_item(int16_t entry) { return entry_item(entry, 3); }

static bool tradable(const monster_placement *placement)
{
    return (placement->flags & _monster_placement_tradable_flag) != 0;
}

// The count chosen for entry k: its control's for a tradable type, else its own.
static int16_t chosen_count(int16_t entry)
{
    const monster_placement *placement = &unit_trading_globals.monster_placements[entry];
    if (!tradable(placement) || !dialog_has_item(unit_trading_globals.dialog, count_item(entry)))
        return placement->count;
    return (int16_t)get_double_arrow_control_value(unit_trading_globals.dialog, count_item(entry));
}

static const char *unit_name(int16_t unit_type)
{
    const unit_definition *unit = get_unit_definition(unit_type);
    const monster_definition *definition = unit ? get_monster_definition(unit->monster_type) : nullptr;
    const char *name = definition && definition->spelling_string_list_index != NONE
                           ? get_string_from_list(definition->spelling_string_list_index, UNIT_NAME_ROW)
                           : nullptr;
    return name ? name : "";
}

static void count_changed(dialog_data *, int16_t) { update_unit_trading_dialog(); }

static void free_placements(void)
{
    free(unit_trading_globals.monster_placements);
    unit_trading_globals.monster_placements = nullptr;
    unit_trading_globals.monster_placement_count = 0;
    unit_trading_globals.total_available_points = 0;
}

static void fill_entries(dialog_data *dialog)
{
    auto &globals = unit_trading_globals;
    int32_t total = 0;
    for (int16_t k = 0; k < NUMBER_OF_MONSTER_PLACEMENT_DIALOG_ENTRIES; ++k)
    {
        const monster_placement *placement = k < globals.monster_placement_count ? &globals.monster_placements[k] : nullptr;
        const bool shown = placement && tradable(placement);
        for (int16_t offset = 0; offset < UNIT_TRADING_ITEMS_PER_ENTRY; ++offset)
            show_dialog_item(dialog, entry_item(k, offset), shown);
        if (!shown) continue;
        char text[32];
        set_dialog_item_text(dialog, entry_item(k, 0), unit_name(placement->unit_type));
        snprintf(text, sizeof(text), "%d", (int)placement->cost_per_unit);
        set_dialog_item_text(dialog, entry_item(k, 1), text);
        snprintf(text, sizeof(text), "%d/%d", (int)placement->minimum_count, (int)placement->maximum_count);
        set_dialog_item_text(dialog, entry_item(k, 2), text);
        if (dialog_has_item(dialog, count_item(k)) && get_bitmap_item_tag(dialog, count_item(k)) == DOUBLE_ARROW_CONTROL_TAG)
        {
            set_double_arrow_control_value_listener(dialog, count_item(k), count_changed);
            set_double_arrow_control_value(dialog, count_item(k), placement->minimum_count, placement->maximum_count,
                                           placement->count);
        }
        total += placement->count * placement->cost_per_unit;
    }
    globals.total_available_points = (int16_t)(total > INT16_MAX ? INT16_MAX : total);
}

bool open_unit_trading_dialog_with(monster_placement *placements, int16_t count)
{
    auto &globals = unit_trading_globals;
    if (globals.dialog || !placements || count <= 0)
    {
        free(placements);
        return globals.dialog != nullptr;
    }
    dialog_data *dialog = new_dialog_if_present(UNIT_TRADING_DIALOG_TAG, "unit trading",
                                                unit_trading_dialog_handler_proc, _dialog_has_bevel_flag,
                                                UNIT_TRADING_SLEEP_TICKS);
    if (!dialog)
    {
        free(placements);
        return false;
    }
    globals.dialog = dialog;
    globals.monster_placements = placements;
    globals.monster_placement_count = count > NUMBER_OF_MONSTER_PLACEMENT_DIALOG_ENTRIES
                                          ? (int16_t)NUMBER_OF_MONSTER_PLACEMENT_DIALOG_ENTRIES
                                          : count;
    set_dialog_background_from(dialog, UNIT_TRADING_COLLECTION_TAG, 0);
    for (int16_t item = _unit_trading_first_header_item; item <= _unit_trading_last_header_item; ++item)
        if (dialog_has_item(dialog, item) && get_bitmap_item_tag(dialog, item) == STATIC_TEXT_CONTROL_TAG)
            set_dialog_static_item_text_appearance(
                dialog, item, -1, -1, nullptr,
                header_text_flags[(item - _unit_trading_first_header_item) % (int16_t)std::size(header_text_flags)]);
    if (dialog_has_item(dialog, _unit_trading_points_left_item) &&
        get_bitmap_item_tag(dialog, _unit_trading_points_left_item) == STATIC_TEXT_CONTROL_TAG)
        set_dialog_static_item_text_appearance(dialog, _unit_trading_points_left_item, -1, -1, nullptr,
                                               UNIT_TRADING_POINTS_TEXT_FLAGS);
    fill_entries(dialog);
    set_default_dialog_item(dialog, _unit_trading_accept_item);
    set_dialog_cancel_item(dialog, _unit_trading_cancel_item);
    position_unit_trading_dialog();
    update_unit_trading_dialog();
    return true;
}

bool open_unit_trading_dialog(void)
{
    if (unit_trading_globals.dialog) return false;
    // Films and the demo replay what was traded; they offer nothing.
    if (game_->type != _game_type_local && game_->type != _game_type_networked) return false;
    if (!(game_->option_flags & _game_option_allow_unit_trading_flag)) return false;
    if (game_->time_state != _game_time_pregame) return false;
    if (local_player_index == NONE || local_player_team_index == NONE) return false;
    const team_data *team = get_team_data(local_player_team_index);
    if (!team || team->captain_player_index != local_player_index) return false;
    int16_t count = 0;
    monster_placement *placements = get_monster_placement_data(local_player_team_index, &count);
    if (!placements) return false;
    return open_unit_trading_dialog_with(placements, count);
}

// Closes the dialog, queueing the counts first when `send`.
static void close_dialog(bool send)
{
    auto &globals = unit_trading_globals;
    dialog_data *dialog = globals.dialog;
    if (!dialog) return;
    if (send)
    {
        int16_t counts[NUMBER_OF_MONSTER_PLACEMENT_DIALOG_ENTRIES];
        for (int16_t k = 0; k < globals.monster_placement_count; ++k) counts[k] = chosen_count(k);
        if (!queue_unit_adjustment_command(_unit_adjustment_from_trading_flag, globals.monster_placement_count, counts))
            log_message(__FILE__, __LINE__, "the traded units could not be sent");
    }
    globals.dialog = nullptr;
    free_placements();
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
}

void close_unit_trading_dialog(void) { close_dialog(true); }
void dispose_unit_trading_dialog(void) { close_dialog(false); }
bool unit_trading_dialog_is_open(void) { return unit_trading_globals.dialog != nullptr; }
dialog_data *get_unit_trading_dialog(void) { return unit_trading_globals.dialog; }

void position_unit_trading_dialog(void)
{
    dialog_data *dialog = unit_trading_globals.dialog;
    if (!dialog) return;
    rectangle2d screen, bar, bounds, now;
    get_screen_bounds(&screen);
    get_dialog_bounds(dialog, &bounds);
    now = bounds;
    const int16_t width = (int16_t)(bounds.right - bounds.left), height = (int16_t)(bounds.bottom - bounds.top);
    const int16_t top = status_bar_visible(&bar) ? bar.bottom : screen.top;
    bounds.left = (int16_t)(screen.left + (screen.right - screen.left - width) / 2);
    bounds.right = (int16_t)(bounds.left + width);
    bounds.top = top;
    bounds.bottom = (int16_t)(top + height);
    if (bounds.top != now.top || bounds.left != now.left) move_dialog(dialog, &bounds);
}

void update_unit_trading_dialog(void)
{
    auto &globals = unit_trading_globals;
    dialog_data *dialog = globals.dialog;
    if (!dialog) return;
    int32_t left = globals.total_available_points;
    for (int16_t k = 0; k < globals.monster_placement_count; ++k)
        if (tradable(&globals.monster_placements[k]))
            left -= chosen_count(k) * globals.monster_placements[k].cost_per_unit;
    for (int16_t k = 0; k < globals.monster_placement_count; ++k)
    {
        const monster_placement *placement = &globals.monster_placements[k];
        if (!tradable(placement) || !dialog_has_item(dialog, count_item(k))) continue;
        int32_t maximum = placement->maximum_count;
        if (placement->cost_per_unit > 0)
        {
            const int32_t affordable = chosen_count(k) + left / placement->cost_per_unit;
            if (affordable < maximum) maximum = affordable;
        }
        set_double_arrow_control_value(dialog, count_item(k), -1, maximum, -1);
    }
    const int32_t list = string_list_tag_to_string_index(UNIT_TRADING_STRING_LIST_TAG);
    const char *format = list == NONE ? nullptr : get_string_from_list(list, 0);
    char text[128];
    // The line comes from data: only a format with one number is filled in.
    format_checked_line(text, sizeof(text), format ? format : "%d", "d", (int)left);
    set_dialog_item_text(dialog, _unit_trading_points_left_item, text);
}

bool unit_trading_dialog_visible(rectangle2d *bounds)
{
    dialog_data *dialog = unit_trading_globals.dialog;
    if (!dialog || !dialog_is_open(dialog)) return false;
    if (bounds) get_dialog_bounds(dialog, bounds);
    return true;
}

void unit_trading_dialog_handler_proc(dialog_data *dialog, int16_t item_id, action_data *)
{
    auto &globals = unit_trading_globals;
    switch (item_id)
    {
    case NONE:
        // The captain's choice goes out as the clock starts, accepted or not.
        if (game_->time_state != _game_time_pregame)
            close_unit_trading_dialog();
        else
            position_unit_trading_dialog(); // the status bar may have been shown or hidden
        break;
    case _unit_trading_reset_item:
        for (int16_t k = 0; k < globals.monster_placement_count; ++k)
        {
            const monster_placement *placement = &globals.monster_placements[k];
            if (tradable(placement) && dialog_has_item(dialog, count_item(k)))
                set_double_arrow_control_value(dialog, count_item(k), -1, placement->maximum_count, placement->count);
        }
        update_unit_trading_dialog();
        break;
    case _unit_trading_accept_item: close_unit_trading_dialog(); break;
    case _unit_trading_cancel_item: dispose_unit_trading_dialog(); break;
    default: break;
    }
}
