// The control bar: the selection's orders and inventory buttons.
#include "control_bar.h"

#include <utility>
#include <cstdio>
#include <cstring>

#include "bitmap_dialogs/button_control.h"
#include "console/console.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "game_preferences.h"
#include "game_records.h"
#include "game_time.h"
#include "input/input_definitions.h"
#include "input/keyboard.h"
#include "players.h"
#include "screen.h"
#include "selection.h"
#include "selection_interface.h"
#include "selection_orders.h"
#include "shapes.h"
#include "tag_files/tag_files.h"
#include "vesk/string_lists.h"

static control_bar_data control_bar;

// The table as it stands before a map rewrites the chat and ally entries.
#define DEFAULT_BUTTON_MAPPING \
    { \
    {0, 1, _control_bar_button_chat, 1}, \
    {0, 2, _control_bar_button_ally, 1}, \
    {0, 3, _control_bar_button_stop, 1}, \
    {0, 4, _control_bar_button_hold_ground, 1}, \
    {0, 5, _control_bar_button_scatter, 1}, \
    {0, 6, _control_bar_button_retreat, 1}, \
    {0, 7, _control_bar_button_special_ability, 1}, \
    {1, 8, _control_bar_button_formation_0 + 0, 2}, \
    {1, 9, _control_bar_button_formation_0 + 1, 3}, \
    {2, 10, _control_bar_button_formation_0 + 2, 4}, \
    {3, 11, _control_bar_button_formation_0 + 3, 5}, \
    {1, 12, _control_bar_button_formation_0 + 4, 6}, \
    {3, 13, _control_bar_button_formation_0 + 5, 7}, \
    {3, 14, _control_bar_button_formation_0 + 6, 8}, \
    {2, 15, _control_bar_button_formation_0 + 7, 9}, \
    {2, 16, _control_bar_button_formation_0 + 8, 10}, \
    {1, 17, _control_bar_button_formation_0 + 9, 11}, \
    }

static const mapping default_button_mapping[NUMBER_OF_CONTROL_BAR_BUTTONS] = DEFAULT_BUTTON_MAPPING;
mapping button_mapping[NUMBER_OF_CONTROL_BAR_BUTTONS] = DEFAULT_BUTTON_MAPPING;

static const rgb_color white_text = {65535, 65535, 65535, 0};
static const rgb_color selected_inventory_text = {65535, 65535, 30583, 0};

// ---- the selection -----------------------------------------------------------------------

// Null in the program: set_control_bar_selection_procedures.
static const control_bar_selection_procedures *replaced_bar_selection = nullptr;

const control_bar_selection_procedures *set_control_bar_selection_procedures(
    const control_bar_selection_procedures *procedures)
{
    return std::exchange(replaced_bar_selection, procedures);
}

static void give_order(int32_t button_type, bool shift)
{
    if (replaced_bar_selection && replaced_bar_selection->give_order)
    {
        replaced_bar_selection->give_order(button_type, shift);
        return;
    }
    switch (button_type)
    {
    case _control_bar_button_chat: enable_chatting(shift); break;
    case _control_bar_button_ally: selection_ally(); break;
    case _control_bar_button_stop: stop_selected_units(); break;
    case _control_bar_button_hold_ground: make_selected_units_hold_ground(); break;
    case _control_bar_button_scatter: scatter_selected_units(); break;
    case _control_bar_button_retreat: retreat_selected_units(); break;
    case _control_bar_button_special_ability: make_selected_units_use_special_ability(); break;
    default:
        if (button_type >= _control_bar_button_formation_0 && button_type <= _control_bar_button_formation_9)
            assign_formation_to_selection(button_type - _control_bar_button_formation_0, shift);
        break;
    }
}

static bool bar_selection_inventory_entries(bool rebuild, int32_t *count, int32_t *selected)
{
    if (replaced_bar_selection && replaced_bar_selection->get_inventory)
        return replaced_bar_selection->get_inventory(rebuild, count, selected);
    return get_unique_selection_inventory(rebuild, count, selected);
}

static void format_selection_inventory(char *buffer, int32_t size, int32_t index)
{
    if (replaced_bar_selection && replaced_bar_selection->format_inventory)
        replaced_bar_selection->format_inventory(buffer, size, index, false, false, true);
    else if (size > 0)
        format_inventory_string(buffer, (size_t)size, index, false, false, true);
}

// ---- the layout (pure) -------------------------------------------------------------------

int32_t control_bar_button_type(int32_t entry, bool network_game)
{
    if (entry < 0 || entry >= NUMBER_OF_CONTROL_BAR_BUTTONS) return _control_bar_button_none;
    const int32_t type = default_button_mapping[entry].button_type;
    if ((type == _control_bar_button_chat || type == _control_bar_button_ally) && !network_game)
        return _control_bar_button_none;
    return type;
}

static bool entry_shown_at(const control_bar_layout_input *input, int32_t entry, int32_t priority)
{
    return default_button_mapping[entry].priority <= priority &&
           control_bar_button_type(entry, input->network_game) != _control_bar_button_none;
}

static bool entry_ends_group(const control_bar_layout_input *input, int32_t entry)
{
    const int32_t type = control_bar_button_type(entry, input->network_game);
    return type == _control_bar_button_ally || type == _control_bar_button_special_ability;
}

int32_t control_bar_width_needed(const control_bar_layout_input *input, int32_t priority)
{
    int32_t width = CONTROL_BAR_MARGIN;
    for (int32_t entry = 0; entry < NUMBER_OF_CONTROL_BAR_BUTTONS; ++entry)
    {
        const int32_t picture_width = input->picture_sizes[entry].x;
        if (entry_shown_at(input, entry, priority) && picture_width > 0) width += picture_width + CONTROL_BAR_MARGIN;
        if (entry_ends_group(input, entry)) width += CONTROL_BAR_GROUP_GAP;
    }
    return width;
}

void layout_control_bar_buttons(const control_bar_layout_input *input, control_bar_layout *layout)
{
    memset(layout, 0, sizeof(*layout));
    int32_t priority = MAXIMUM_CONTROL_BAR_PRIORITY;
    for (; priority > 0; --priority)
        if (input->screen_width > control_bar_width_needed(input, priority)) break;
    layout->max_priority = priority;
    layout->width_needed = control_bar_width_needed(input, priority);
    layout->offset = (input->screen_width - layout->width_needed) / 2;

    int32_t x = CONTROL_BAR_MARGIN;
    for (int32_t entry = 0; entry < NUMBER_OF_CONTROL_BAR_BUTTONS; ++entry)
    {
        const point2d size = input->picture_sizes[entry];
        if (entry_shown_at(input, entry, priority))
        {
            rectangle2d *r = &layout->bounds[entry];
            r->left = (int16_t)(layout->offset + x);
            r->right = (int16_t)(r->left + size.x);
            r->top = (int16_t)((input->bar_height - size.y) / 2 + 1);
            r->bottom = (int16_t)(r->top + size.y);
            layout->shown[entry] = true;
            if (size.x != 0) x += size.x + CONTROL_BAR_MARGIN;
        }
        if (entry_ends_group(input, entry)) x += CONTROL_BAR_GROUP_GAP;
    }
}

void layout_inventory_buttons(int32_t dialog_width, int32_t count, inventory_button_layout *layout)
{
    memset(layout, 0, sizeof(*layout));
    layout->frame_sequence = _dialog_elements_short_button_sequence;
    if (count <= 0) return;
    if (count > MAXIMUM_INVENTORY_ENTRIES) count = MAXIMUM_INVENTORY_ENTRIES;
    // Only ten buttons exist: more entries than that are not shown.
    layout->count = count < NUMBER_OF_INVENTORY_BUTTONS ? count : NUMBER_OF_INVENTORY_BUTTONS;
    const int32_t w = (dialog_width - INVENTORY_BUTTON_GAP * (count + 1)) / count;
    if (w > MINIMUM_INVENTORY_BUTTON_WIDTH)
    {
        layout->width = w < MAXIMUM_INVENTORY_BUTTON_WIDTH ? w : MAXIMUM_INVENTORY_BUTTON_WIDTH;
        layout->frame_sequence = _dialog_elements_long_button_sequence;
    }
    else
        layout->width = MINIMUM_INVENTORY_BUTTON_WIDTH;
    for (int32_t i = 0; i < layout->count; ++i)
    {
        rectangle2d *r = &layout->bounds[i];
        r->left = (int16_t)(INVENTORY_BUTTON_GAP + i * (layout->width + INVENTORY_BUTTON_GAP));
        r->right = (int16_t)(r->left + layout->width);
        r->top = INVENTORY_BUTTON_TOP;
        r->bottom = INVENTORY_BUTTON_BOTTOM;
    }
}

// ---- the module's helpers ------------------------------------------------------------------

// Whether the console's text input is taking the keys (the chat button then
// keeps its name).
static bool console_taking_input(void) { return get_console_input_state() == _console_input_typing; }

static bool network_game(void) { return game_->type == _game_type_networked; }

static bool inventory_flag(void)
{
    const input_definition *definition = get_input_definition();
    return definition && (definition->flags & FLAG(_input_definition_control_bar_inventory));
}

static const team_data *local_team(void)
{
    if (local_player_team_index < 0 || local_player_team_index >= get_team_count()) return nullptr;
    return get_team_data(local_player_team_index);
}

static bool ally_button_enabled(void)
{
    if (!network_game() || (game_->option_flags & _game_option_cooperative_flag)) return false;
    const team_data *team = local_team();
    if (!team || (team->flags & _team_has_been_eliminated_flag)) return false;
    int32_t others = 0;
    for (int32_t t = 0; t < get_team_count(); ++t)
    {
        if (t == local_player_team_index) continue;
        const team_data *other = get_team_data(t);
        if (other && other->number_of_players > 0) ++others;
    }
    return others > 1;
}

static void set_no_delay(dialog_data *dialog, int16_t item_id)
{
    control_data *item = find_control(dialog, item_id);
    if (item) item->flags |= _control_has_no_delay_flag;
}

// Whether item `item_id` of the dialog is a button made whole.
static bool find_button_item(const dialog_data *dialog, int16_t item_id)
{
    for (const control_data *item = get_first_dialog_control(dialog); item; item = item->next)
    {
        if (item->item_id != item_id) continue;
        const button_control_data *data = (const button_control_data *)item->extra_data;
        return item->tag == BUTTON_CONTROL_TAG && data && data->cookie == BUTTON_CONTROL_COOKIE;
    }
    return false;
}

static bool has_button(int32_t item_id)
{
    return item_id > 0 && item_id < 32 && (control_bar.button_items & FLAG(item_id));
}

// The bar's buttons 1 .. 17 and any inventory buttons made so far.
static void find_button_items(void)
{
    control_bar.button_items = 0;
    for (int16_t item = 1; item < FIRST_INVENTORY_BUTTON_ITEM + NUMBER_OF_INVENTORY_BUTTONS; ++item)
        if (find_button_item(control_bar.dialog, item)) control_bar.button_items |= FLAG(item);
}

static void set_button_visible(int16_t item_id, bool visible)
{
    if (has_button(item_id)) bitmap_set_item_visible(control_bar.dialog, item_id, visible);
}

static int32_t dialog_width(void)
{
    rectangle2d bounds;
    get_dialog_bounds(control_bar.dialog, &bounds);
    return bounds.right - bounds.left;
}

// ---- the module ----------------------------------------------------------------------------

void initialize_control_bar_for_new_map(void)
{
    if (!VASSERT(!control_bar.dialog, "!control_bar.dialog")) return;
    memset(&control_bar, 0, sizeof(control_bar));
    control_bar.collection_index = NONE;
    control_bar.string_list_index = NONE;
    control_bar.inventory_row_shaped_for = NONE;

    const bool network = network_game();
    for (int32_t entry = 0; entry < 2; ++entry)
        button_mapping[entry].button_type = (uint8_t)control_bar_button_type(entry, network);

    if (tag_file_open(STRING_LIST_GROUP_TAG, CONTROL_BAR_STRING_LIST_TAG) != NONE)
        control_bar.string_list_index = (int16_t)string_list_tag_to_string_index(CONTROL_BAR_STRING_LIST_TAG);
    control_bar.collection_index = (int16_t)get_collection_index(CONTROL_BAR_COLLECTION_TAG);
    if (control_bar.collection_index == NONE)
        log_message(__FILE__, __LINE__, "the control bar's collection '%s' is missing: its buttons have no pictures",
                    tag_to_string(CONTROL_BAR_COLLECTION_TAG));

    // Without its dialog the map has no bar: creating a missing dialog is fatal.
    if (tag_file_open(DIALOG_GROUP_TAG, CONTROL_BAR_DIALOG_TAG) == NONE)
    {
        log_message(__FILE__, __LINE__, "the control bar's dialog '%s' is missing: no control bar",
                    tag_to_string(CONTROL_BAR_DIALOG_TAG));
        return;
    }
    control_bar.dialog = new_dialog(CONTROL_BAR_DIALOG_TAG, control_bar_dialog_handler_proc, nullptr, NONE,
                                    CONTROL_BAR_DIALOG_FLAGS);
    if (!control_bar.dialog) return;
    rectangle2d bounds;
    get_dialog_bounds(control_bar.dialog, &bounds);
    control_bar.height = (int16_t)(bounds.bottom - bounds.top);
    find_button_items();
    for (int16_t item = 1; item < FIRST_INVENTORY_BUTTON_ITEM; ++item)
        if (!has_button(item))
            log_message(__FILE__, __LINE__, "the control bar's dialog '%s' has no button %d: it is left out",
                        tag_to_string(CONTROL_BAR_DIALOG_TAG), (int)item);
    initialize_control_bar();
}

// The first frame of an entry's picture; 0 x 0 without one.
static point2d picture_size(int32_t entry)
{
    point2d size = {0, 0};
    if (control_bar.collection_index == NONE || !has_button(button_mapping[entry].dialog_control_index)) return size;
    const bitmap_data *bitmap =
        get_sequence_bitmap(control_bar.collection_index, button_mapping[entry].sequence_index, 0, 0, nullptr, nullptr);
    if (bitmap) size = {bitmap->width, bitmap->height};
    return size;
}

void initialize_control_bar(void)
{
    dialog_data *dialog = control_bar.dialog;
    if (!dialog) return;
    rectangle2d screen;
    get_screen_bounds(&screen);
    const int32_t screen_width = screen.right - screen.left;
    const int32_t screen_height = screen.bottom - screen.top;
    const rectangle2d bounds = {(int16_t)(screen_height - control_bar.height), 0, (int16_t)screen_height,
                                (int16_t)screen_width};
    move_dialog(dialog, &bounds);

    control_bar_layout_input input = {};
    input.screen_width = screen_width;
    input.bar_height = control_bar.height;
    input.network_game = network_game();
    for (int32_t entry = 0; entry < NUMBER_OF_CONTROL_BAR_BUTTONS; ++entry) input.picture_sizes[entry] = picture_size(entry);
    control_bar_layout layout;
    layout_control_bar_buttons(&input, &layout);

    const team_data *team = local_team();
    for (int32_t entry = 0; entry < NUMBER_OF_CONTROL_BAR_BUTTONS; ++entry)
    {
        const int16_t item = button_mapping[entry].dialog_control_index;
        if (!has_button(item)) continue;
        if (layout.shown[entry]) set_button_control_original_bounds(dialog, item, &layout.bounds[entry]);
        bitmap_set_item_visible(dialog, item, layout.shown[entry]);
    }
    control_bar.max_priority = (uint8_t)layout.max_priority;

    for (int32_t entry = 0; entry < NUMBER_OF_CONTROL_BAR_BUTTONS; ++entry)
    {
        const int16_t item = button_mapping[entry].dialog_control_index;
        if (!has_button(item)) continue;
        set_button_control_shape(dialog, item, control_bar.collection_index, button_mapping[entry].sequence_index);
        set_button_control_text_color(dialog, item, &white_text);
        set_no_delay(dialog, item);
        set_button_transparency(dialog, item, 0);
        switch (button_mapping[entry].button_type)
        {
        case _control_bar_button_chat:
            bitmap_set_item_enabled(dialog, item, network_game() && team);
            if ((!team || team->number_of_players == 1) && control_bar.string_list_index != NONE)
                set_button_control_name(dialog, item, get_string_from_list(control_bar.string_list_index, _control_bar_string_yell));
            break;
        case _control_bar_button_none: bitmap_set_item_visible(dialog, item, false); break;
        case _control_bar_button_ally: bitmap_set_item_enabled(dialog, item, ally_button_enabled()); break;
        default: break;
        }
    }

    control_bar.inventory_row_shaped_for = NONE; // the buttons are made anew below
    if (inventory_flag())
    {
        for (int32_t i = 0; i < NUMBER_OF_INVENTORY_BUTTONS; ++i)
        {
            const int16_t item = (int16_t)(FIRST_INVENTORY_BUTTON_ITEM + i);
            const rectangle2d placeholder = {0, 0, 1, 1};
            if (!new_unpressed_control(dialog, BUTTON_CONTROL_TAG, item, &placeholder, "") ||
                !find_button_item(dialog, item))
            {
                control_bar.button_items &= ~FLAG(item);
                continue;
            }
            control_bar.button_items |= FLAG(item);
            set_button_transparency(dialog, item, 0);
            set_no_delay(dialog, item);
            bitmap_set_item_visible(dialog, item, false);
        }
    }
    set_dialog_background(dialog, control_bar.collection_index, CONTROL_BAR_BACKGROUND_SEQUENCE);
    set_dialog_visible(dialog, control_bar.visible != _control_bar_hidden);
}

void dispose_control_bar_from_old_map(void)
{
    if (control_bar.dialog) dispose_dialog(control_bar.dialog);
    memset(&control_bar, 0, sizeof(control_bar));
    control_bar.collection_index = NONE;
    control_bar.string_list_index = NONE;
    control_bar.inventory_row_shaped_for = NONE;
}

void update_control_bar_for_new_resolution(void)
{
    if (!control_bar.dialog) return;
    initialize_control_bar();
    if (control_bar.inv_visible)
    {
        control_bar.visible = _control_bar_hidden;
        set_control_bar_visibility(_control_bar_inventory);
    }
}

void set_control_bar_visibility(int32_t visible)
{
    dialog_data *dialog = control_bar.dialog;
    if (!dialog || game_->type == _game_type_replay || local_player_team_index == NONE) return;
    if (visible < _control_bar_hidden || visible > _control_bar_inventory || visible == control_bar.visible) return;

    set_dialog_visible(dialog, visible != _control_bar_hidden);
    control_bar.visible = (uint8_t)visible;
    game_preferences *preferences = get_game_preferences();
    if (visible) preferences->flags |= _game_pref_control_bar_visible_flag;
    else preferences->flags &= ~(uint32_t)_game_pref_control_bar_visible_flag;

    if (inventory_flag())
    {
        const bool was_showing = control_bar.inv_visible != 0;
        control_bar.inv_visible = visible == _control_bar_inventory;
        if (visible == _control_bar_inventory)
        {
            for (int32_t entry = 0; entry < NUMBER_OF_CONTROL_BAR_BUTTONS; ++entry)
                set_button_visible(button_mapping[entry].dialog_control_index, false);
            update_inventory_buttons();
        }
        else if (was_showing)
        {
            for (int32_t i = 0; i < NUMBER_OF_INVENTORY_BUTTONS; ++i)
                set_button_visible((int16_t)(FIRST_INVENTORY_BUTTON_ITEM + i), false);
            for (int32_t entry = 0; entry < NUMBER_OF_CONTROL_BAR_BUTTONS; ++entry)
                set_button_visible(button_mapping[entry].dialog_control_index,
                                   button_mapping[entry].priority <= control_bar.max_priority &&
                                       button_mapping[entry].button_type != _control_bar_button_none);
        }
    }
    if (active_screen.rasterizer_code == _rasterizer_software) set_dialog_dirty(dialog);
}

void toggle_control_bar_inventory(void)
{
    if (control_bar.visible == _control_bar_inventory)
        set_control_bar_visibility(control_bar.visibility_before_toggle);
    else
    {
        control_bar.visibility_before_toggle = control_bar.visible;
        set_control_bar_visibility(_control_bar_inventory);
    }
}

void update_control_bar(void)
{
    dialog_data *dialog = control_bar.dialog;
    if (!dialog || control_bar.visible == _control_bar_hidden) return;
    if (control_bar.inv_visible && inventory_flag())
    {
        update_inventory_buttons();
        return;
    }
    for (int32_t entry = 0; entry < NUMBER_OF_CONTROL_BAR_BUTTONS; ++entry)
    {
        const int16_t item = button_mapping[entry].dialog_control_index;
        if (!has_button(item)) continue;
        switch (button_mapping[entry].button_type)
        {
        case _control_bar_button_ally: bitmap_set_item_enabled(dialog, item, ally_button_enabled()); break;
        case _control_bar_button_chat:
        {
            const team_data *team = local_team();
            if (!network_game() || control_bar.string_list_index == NONE || !team || team->number_of_players <= 1 ||
                console_taking_input())
                break;
            const int32_t row = key_down(_key_shift) ? _control_bar_string_yell : _control_bar_string_whisper;
            set_button_control_name(dialog, item, get_string_from_list(control_bar.string_list_index, row));
            break;
        }
        default: break;
        }
    }
}

void control_bar_dialog_handler_proc(dialog_data *dialog, int16_t item_id, action_data *action)
{
    (void)dialog;
    const bool shift = action && test_action_flag(action, _shift_down_bit);
    if (control_bar.visible != _control_bar_hidden && control_bar.inv_visible && inventory_flag())
    {
        if (item_id >= FIRST_INVENTORY_BUTTON_ITEM && item_id < FIRST_INVENTORY_BUTTON_ITEM + NUMBER_OF_INVENTORY_BUTTONS)
        {
            const int32_t entry = item_id - (FIRST_INVENTORY_BUTTON_ITEM + 1);
            if (replaced_bar_selection && replaced_bar_selection->set_inventory) replaced_bar_selection->set_inventory(entry, shift);
            else set_selection_inventory_unique(entry, shift);
        }
        return;
    }
    for (int32_t entry = 0; entry < NUMBER_OF_CONTROL_BAR_BUTTONS; ++entry)
    {
        if (button_mapping[entry].dialog_control_index != item_id) continue;
        const int32_t type = button_mapping[entry].button_type;
        if (type != _control_bar_button_none) give_order(type, shift);
        return;
    }
}

int16_t control_bar_visible(rectangle2d *bounds)
{
    if (bounds && control_bar.visible != _control_bar_hidden && control_bar.dialog)
        get_dialog_bounds(control_bar.dialog, bounds);
    return control_bar.visible;
}

bool is_control_bar(const dialog_data *dialog) { return dialog && dialog == control_bar.dialog; }

dialog_data *get_control_bar_dialog(void) { return control_bar.dialog; }

void rebuild_inventory_buttons(int32_t count)
{
    dialog_data *dialog = control_bar.dialog;
    if (!dialog) return;
    inventory_button_layout layout;
    layout_inventory_buttons(dialog_width(), count, &layout);
    control_bar.inventory_row_shaped_for = (int16_t)count;
    const int16_t elements = (int16_t)get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
    for (int32_t i = 0; i < NUMBER_OF_INVENTORY_BUTTONS; ++i)
    {
        const int16_t item = (int16_t)(FIRST_INVENTORY_BUTTON_ITEM + i);
        if (!has_button(item)) continue;
        if (i >= layout.count)
        {
            bitmap_set_item_visible(dialog, item, false);
            continue;
        }
        // The frame is the button's picture, so the item's hit and text
        // rectangles follow the new bounds.
        set_button_control_original_bounds(dialog, item, &layout.bounds[i]);
        set_button_control_shape(dialog, item, elements, layout.frame_sequence);
    }
}

void update_inventory_buttons(void)
{
    dialog_data *dialog = control_bar.dialog;
    if (!dialog || !control_bar.inv_visible) return;
    int32_t count = 0, selected = NONE;
    if (!bar_selection_inventory_entries(true, &count, &selected))
    {
        if (control_bar.inventory_row_shaped_for != 0) rebuild_inventory_buttons(0);
        return;
    }
    if (count < 0) count = 0;
    if (count > MAXIMUM_INVENTORY_ENTRIES) count = MAXIMUM_INVENTORY_ENTRIES;
    // The unit itself, then its items; the row is shaped for all of them,
    // but only the first ten have a button.
    if (control_bar.inventory_row_shaped_for != count + 1) rebuild_inventory_buttons(count + 1);
    const int32_t buttons = count + 1 < NUMBER_OF_INVENTORY_BUTTONS ? count + 1 : NUMBER_OF_INVENTORY_BUTTONS;
    for (int32_t i = 0; i < buttons; ++i)
    {
        const int16_t item = (int16_t)(FIRST_INVENTORY_BUTTON_ITEM + i);
        if (!has_button(item)) continue;
        const int32_t entry = i - 1;
        char text[MAXIMUM_INVENTORY_STRING_LENGTH + 1] = "";
        format_selection_inventory(text, (int32_t)sizeof(text), entry);
        text[sizeof(text) - 1] = 0;
        set_button_control_name(dialog, item, text);
        set_button_control_text_color(dialog, item, entry == selected ? &selected_inventory_text : &white_text);
        bitmap_set_item_visible(dialog, item, true);
    }
}

void register_control_bar_hooks(void)
{
    // (Its inventory members join the selection's table in register_built_subsystems.)
}

#undef DEFAULT_BUTTON_MAPPING
