// The key-binding editor and the on-screen key list.
#include "keybinding_dialogs.h"

#include <cstring>

#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "vesk/string_lists.h"

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/double_arrow_control.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/keybinding_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_text.h"
#include "interface_definitions.h"
#include "bitmap_drawing.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_time.h"
#include "input/keyboard.h"
#include "render/render_effects.h"
#include "render/render_surfaces.h"
#include "shapes.h"
#include "tag_files/tag_files.h"

namespace {

// The enumeration tables of the dialog's selectors hold their count in row 0.
enum { MAXIMUM_SELECTOR_ROWS = NUMBER_OF_INPUT_SETS };

struct keybinding_dialog_state
{
    key_binding_editor editor; // the open dialog's
    enum_selector_data selector_tables[NUMBER_OF_KEY_BINDING_SELECTORS][MAXIMUM_SELECTOR_ROWS + 1];
    enum_selector_data set_table[NUMBER_OF_INPUT_SETS + 1];
    input_definitions_data scratch; // for deriving one set's selector word
} keybinding_dialog_globals;

const key_binding_selector_row caps_lock_rows[] = {
    {"Ignored", _caps_lock_ignored},         {"Selection Boxes", _caps_lock_selection_boxes},
    {"Health Bars", _caps_lock_health_bars}, {"Player Stats", _caps_lock_player_stats},
    {"Chat Backlog", _caps_lock_chat_backlog},
};
const key_binding_selector_row horizontal_movement_rows[] = {
    {"Ignored", _horizontal_movement_ignored},
    {"Move (Pan)", _horizontal_movement_pan},
    {"Rotate", _horizontal_movement_rotate},
    {"Orbit", _horizontal_movement_orbit},
};
const key_binding_selector_row mouse_wheel_rows[] = {
    {"Ignored", _mouse_wheel_ignored},           {"Move", _mouse_wheel_move}, {"Zoom", _mouse_wheel_zoom},
    {"Cycle Presets", _mouse_wheel_cycle_presets}, {"Cycle Inventory", _mouse_wheel_cycle_inventory},
};
const key_binding_selector_row right_click_rows[] = {
    {"Ignored", _right_click_ignored},
    {"Gesture Move", _right_click_gesture_move},
    {"Attack Ground", _right_click_acttack_ground},
    {"Deselect Units", _right_click_deselect_units},
};

// The selector fields of a mouse record's selector word, by selector.
const int16_t selector_shifts[] = {NONE, HORIZONTAL_ACTION_SHIFT, WHEEL_ACTION_SHIFT, RIGHT_CLICK_ACTION_SHIFT};
static_assert(NUMBER_OF(selector_shifts) == NUMBER_OF_KEY_BINDING_SELECTORS);

// Which flag each checkbox stands for: a mouse flag or a set flag.  Item 24
// (the system key layout) is hidden and stands for nothing.
struct checkbox_flag
{
    bool mouse;
    uint32_t flag;
};
const checkbox_flag checkbox_flags[NUMBER_OF_KEY_BINDING_CHECKBOXES] = {
    {true, _mouse_control_enabled_flag},
    {true, _mouse_control_top_corners_turn_camera_flag},
    {true, _mouse_control_bottom_corners_orbit_camera_flag},
    {true, _mouse_control_reversed_left_right_flag},
    {true, FLAG(_mouse_control_left_click_gestures_disabled)},
    {true, _mouse_control_vux_actions_flag},
    {false, FLAG(_input_definition_control_bar_inventory)},
    {false, 0},
    {false, _input_definition_alternate_preset_recall_flag},
    {false, FLAG(_input_definition_right_click_through_ui)},
    {false, FLAG(_input_definition_tilde_ignores_inventory)},
};

bool &checkbox(key_binding_items *items, int16_t item)
{
    return items->checked[item - FIRST_KEY_BINDING_CHECKBOX];
}

// Captions follow item 25: with alternate preset recall the rotate-preset
// key has its own name.
void label_captions(key_binding_items *items, const input_definition *definition, int32_t action_list_index)
{
    const int16_t flags = checkbox(items, iALTERNATE_PRESET_RECALL) ? _input_definition_alternate_preset_recall_flag : 0;
    for (int16_t i = 0; i < items->count; i++)
    {
        const control_definition &control = definition->controls[items->controls[i]];
        items->captions[i] = get_control_action_string(action_list_index, control.action_bit, flags);
    }
}

// The selector word of a mouse record put in or restored by the editor: the
// record's flags are the stored truth until it is written.
void derive_selectors(input_definition *definition, mouse_control_data *mouse_controls)
{
    input_definitions_data &scratch = keybinding_dialog_globals.scratch;
    scratch.sets[0] = *definition;
    scratch.mouse_sets[0] = *mouse_controls;
    derive_input_selectors_from_flags(&scratch);
    *mouse_controls = scratch.mouse_sets[0];
}

bool valid_set(int16_t set_index)
{
    return set_index >= 0 && set_index < NUMBER_OF_INPUT_SETS;
}

void show_selected_set(key_binding_editor *editor)
{
    setup_dialog_for_input_definition(&editor->items, &editor->sets[editor->selected_set],
                                      &editor->mouse_sets[editor->selected_set], editor->action_list_index,
                                      editor->key_list_index);
    editor->items.selected_set = editor->selected_set;
}

// Reads the selected set back and reports a duplicate key in the status text.
bool read_back_and_check(key_binding_editor *editor)
{
    key_binding_items *items = &editor->items;
    input_definition *definition = &editor->sets[editor->selected_set];
    get_input_definition_from_dialog(items, definition, &editor->mouse_sets[editor->selected_set],
                                     editor->key_list_index);
    int16_t control = NONE, partner = NONE;
    const bool duplicate = find_duplicate_key_binding(definition, items->controls, items->count, &control, &partner);
    items->status_text[0] = 0;
    items->ok_enabled = !duplicate;
    if (duplicate)
    {
        const int16_t flags = (int16_t)(definition->flags & _input_definition_alternate_preset_recall_flag);
        const control_definition &mine = definition->controls[control];
        const control_definition &other = definition->controls[partner];
        const char *arguments[] = {
            get_key_string(editor->key_list_index, mine.code),
            get_control_action_string(editor->action_list_index, other.action_bit, flags),
            get_control_action_string(editor->action_list_index, mine.action_bit, flags),
        };
        format_key_binding_message(items->status_text, sizeof(items->status_text),
                                   get_string_from_list(editor->preference_list_index,
                                                        _multiple_key_bindings_error_with_formatting_index),
                                   arguments, (int16_t)NUMBER_OF(arguments));
    }
    return duplicate;
}

} // namespace

const key_binding_selector_row *get_key_binding_selector_rows(int16_t selector, int16_t *count)
{
    const key_binding_selector_row *rows = nullptr;
    int16_t n = 0;
    switch (selector)
    {
    case _caps_lock_selector: rows = caps_lock_rows, n = (int16_t)NUMBER_OF(caps_lock_rows); break;
    case _horizontal_movement_selector: rows = horizontal_movement_rows, n = (int16_t)NUMBER_OF(horizontal_movement_rows); break;
    case _mouse_wheel_selector: rows = mouse_wheel_rows, n = (int16_t)NUMBER_OF(mouse_wheel_rows); break;
    case _right_click_selector: rows = right_click_rows, n = (int16_t)NUMBER_OF(right_click_rows); break;
    default: break;
    }
    if (count) *count = n;
    return rows;
}

int16_t build_configurable_control_list(const input_definition *definition,
                                        int16_t controls[MAXIMUM_CONFIGURABLE_CONTROLS])
{
    int16_t count = 0;
    for (int16_t i = 0; i < NUMBER_OF_CONTROLS_PER_INPUT_DEFINITION; i++)
    {
        const control_definition &control = definition->controls[i];
        if (control.device == _input_device_keyboard && (control.action_bit_flags & _control_rebindable_flag))
            controls[count++] = i;
    }
    return count;
}

int16_t find_key_code_by_name(int32_t key_list_index, const char *text)
{
    int16_t code = NONE;
    if (!text || !*text) return NONE;
    for (int16_t i = 0; i < NUMBER_OF_KEYBOARD_DEVICE_CODES; i++)
    {
        if (strcmp(get_key_string(key_list_index, i), text) == 0) code = i;
    }
    return code;
}

void setup_dialog_for_input_definition(key_binding_items *items, const input_definition *definition,
                                       const mouse_control_data *mouse_controls, int32_t action_list_index,
                                       int32_t key_list_index)
{
    for (int16_t i = 0; i < items->count; i++)
    {
        const control_definition &control = definition->controls[items->controls[i]];
        strlcpy(items->key_texts[i], get_key_string(key_list_index, control.code), sizeof(items->key_texts[i]));
    }
    for (int16_t i = 0; i < NUMBER_OF_KEY_BINDING_CHECKBOXES; i++)
    {
        const checkbox_flag &flag = checkbox_flags[i];
        items->checked[i] = ((flag.mouse ? mouse_controls->flags : definition->flags) & flag.flag) != 0;
    }
    items->camera_corner_items_enabled = checkbox(items, iMOUSE_MOVEMENT_ENABLED);
    items->selectors[_caps_lock_selector] = definition->caps_lock_action;
    for (int16_t s = _horizontal_movement_selector; s < NUMBER_OF_KEY_BINDING_SELECTORS; s++)
        items->selectors[s] = (int16_t)((mouse_controls->selectors >> selector_shifts[s]) & MOUSE_SELECTOR_FIELD_MASK);
    label_captions(items, definition, action_list_index);
}

void get_input_definition_from_dialog(const key_binding_items *items, input_definition *definition,
                                      mouse_control_data *mouse_controls, int32_t key_list_index)
{
    for (int16_t i = 0; i < items->count; i++)
    {
        const int16_t code = find_key_code_by_name(key_list_index, items->key_texts[i]);
        if (code != NONE) definition->controls[items->controls[i]].code = code;
    }
    for (int16_t i = 0; i < NUMBER_OF_KEY_BINDING_CHECKBOXES; i++)
    {
        const checkbox_flag &flag = checkbox_flags[i];
        uint32_t &flags = flag.mouse ? mouse_controls->flags : definition->flags;
        if (items->checked[i]) flags |= flag.flag;
        else flags &= ~flag.flag;
    }
    // Selector values outside their menus cannot come from the menus; they
    // keep what the set had.
    int16_t count;
    for (int16_t s = 0; s < NUMBER_OF_KEY_BINDING_SELECTORS; s++)
    {
        const key_binding_selector_row *rows = get_key_binding_selector_rows(s, &count);
        bool known = false;
        for (int16_t r = 0; r < count; r++) known = known || rows[r].value == items->selectors[s];
        if (!known) continue;
        if (s == _caps_lock_selector)
        {
            definition->caps_lock_action = (uint8_t)items->selectors[s];
            continue;
        }
        mouse_controls->selectors &= ~((uint32_t)MOUSE_SELECTOR_FIELD_MASK << selector_shifts[s]);
        mouse_controls->selectors |= (uint32_t)items->selectors[s] << selector_shifts[s];
    }
}

bool find_duplicate_key_binding(const input_definition *definition, const int16_t *controls, int16_t count,
                                int16_t *control_index, int16_t *partner_index)
{
    for (int16_t i = 0; i < count; i++)
    {
        int16_t partner = NONE;
        const control_definition &control = definition->controls[controls[i]];
        for (int16_t j = 0; j < count; j++)
        {
            const control_definition &other = definition->controls[controls[j]];
            if (j != i && other.device == control.device && other.code == control.code) partner = controls[j];
        }
        if (partner != NONE)
        {
            if (control_index) *control_index = controls[i];
            if (partner_index) *partner_index = partner;
            return true;
        }
    }
    return false;
}

void format_key_binding_message(char *buffer, size_t size, const char *format, const char *const *arguments,
                                int16_t argument_count)
{
    if (!buffer || size == 0) return;
    size_t used = 0;
    int16_t next = 0;
    const auto append = [&](const char *text, size_t length) {
        while (length-- > 0 && used + 1 < size) buffer[used++] = *text++;
    };
    for (const char *p = format ? format : ""; *p; p++)
    {
        if (p[0] == '%' && p[1] == 's')
        {
            if (next < argument_count && arguments[next]) append(arguments[next], strlen(arguments[next]));
            next++;
            p++;
        }
        else if (p[0] == '%' && p[1] == '%')
        {
            append("%", 1);
            p++;
        }
        else
        {
            append(p, 1);
        }
    }
    buffer[used] = 0;
}

// ---- the editor's state ------------------------------------------------------------------

bool open_key_binding_editor(key_binding_editor *editor)
{
    memset(editor, 0, sizeof(*editor));
    editor->action_list_index = string_list_tag_to_string_index(ACTION_NAME_STRING_LIST_TAG);
    editor->key_list_index = string_list_tag_to_string_index(KEY_NAME_STRING_LIST_TAG);
    editor->preference_list_index = string_list_tag_to_string_index(PREFERENCE_STRING_LIST_TAG);
    if (editor->action_list_index == NONE || editor->key_list_index == NONE)
    {
        log_message(__FILE__, __LINE__, "key bindings: the action or key names are missing; the editor does not open");
        return false;
    }
    load_input_definitions(editor->sets, editor->mouse_sets, &editor->remembered_layout);
    editor->items.count = build_configurable_control_list(get_input_definition(), editor->items.controls);
    if (editor->items.count == 0)
    {
        log_message(__FILE__, __LINE__, "key bindings: the current set has no rebindable control");
        return false;
    }
    editor->selected_set = get_current_input_definition_set_index();
    if (!valid_set(editor->selected_set)) editor->selected_set = DEFAULT_SET_INDEX;
    show_selected_set(editor);
    editor->items.ok_enabled = true;
    return true;
}

int16_t key_binding_editor_item_hit(key_binding_editor *editor, int16_t item)
{
    key_binding_items *items = &editor->items;
    const bool duplicate = read_back_and_check(editor);
    switch (item)
    {
    case iKEY_BINDING_OK:
        if (duplicate)
        {
            load_input_definition(editor->selected_set);
            return _key_binding_editor_stays;
        }
        if (!save_input_definitions(editor->sets, editor->mouse_sets, editor->selected_set, editor->remembered_layout))
        {
            // Nothing was stored: the dialog closes reporting no save, with the
            // bindings as they were.
            set_current_keyboard_layout(editor->remembered_layout);
            return _key_binding_editor_cancelled;
        }
        load_input_definition(editor->selected_set);
        return _key_binding_editor_saved;

    case iKEY_BINDING_CANCEL:
        set_current_keyboard_layout(editor->remembered_layout);
        return _key_binding_editor_cancelled;

    case iCONTROL_SET_SELECTOR:
        if (duplicate || !valid_set(items->selected_set))
        {
            items->selected_set = editor->selected_set;
            break;
        }
        editor->selected_set = items->selected_set;
        show_selected_set(editor);
        break;

    case iREVERT_SET:
    {
        const int16_t set_index = items->selected_set;
        if (!valid_set(set_index))
        {
            items->selected_set = editor->selected_set;
            break;
        }
        revert_input_definition_to_default(&editor->sets[set_index], &editor->mouse_sets[set_index], set_index);
        derive_selectors(&editor->sets[set_index], &editor->mouse_sets[set_index]);
        editor->selected_set = set_index;
        show_selected_set(editor);
        read_back_and_check(editor);
        break;
    }

    case iMOUSE_MOVEMENT_ENABLED:
        items->camera_corner_items_enabled = checkbox(items, iMOUSE_MOVEMENT_ENABLED);
        break;

    case iALTERNATE_PRESET_RECALL:
        label_captions(items, &editor->sets[editor->selected_set], editor->action_list_index);
        break;

    default: break;
    }
    return _key_binding_editor_stays;
}

// ---- the on-screen key list ------------------------------------------------------------

int16_t keybinding_overlay_rows_per_column(const input_definition *definition)
{
    int16_t count = 0;
    for (const control_definition &control : definition->controls)
    {
        if (control.action_bit_flags & _control_rebindable_flag) count++;
    }
    return (int16_t)((count + 1) / 2);
}

rectangle2d keybinding_overlay_row_bounds(const rectangle2d &view_hole, int16_t row, int16_t rows_per_column)
{
    const int16_t column = rows_per_column > 0 ? (int16_t)(row / rows_per_column) : 0;
    const int16_t r = rows_per_column > 0 ? (int16_t)(row % rows_per_column) : row;
    rectangle2d bounds;
    bounds.left = (int16_t)(view_hole.left + LIST_BORDER + column * (HIGH_RES_ROW_WIDTH + HIGH_RES_SPACE_BETWEEN_COLUMNS));
    bounds.top = (int16_t)(view_hole.top + LIST_BORDER + r * HIGH_RES_ROW_HEIGHT);
    bounds.right = (int16_t)(bounds.left + HIGH_RES_ROW_WIDTH);
    bounds.bottom = (int16_t)(bounds.top + HIGH_RES_ROW_HEIGHT);
    return bounds;
}

int16_t key_binding_caption_width(const int16_t *widths, int16_t count)
{
    int16_t width = 0;
    for (int16_t i = 0; i < count; i++)
    {
        if (widths[i] > width) width = (int16_t)(widths[i] + CAPTION_WIDTH_MARGIN);
    }
    return width;
}

void key_binding_row_bounds(point2d column1, point2d column2, int16_t caption_width, int16_t index, int16_t count,
                            rectangle2d *caption, rectangle2d *key_field)
{
    const int16_t rows_per_column = (int16_t)((count + 1) / 2);
    const bool second = rows_per_column > 0 && index >= rows_per_column;
    const point2d origin = second ? column2 : column1;
    const int16_t row = second ? (int16_t)(index - rows_per_column) : index;
    const int16_t top = (int16_t)(origin.y + row * (ROW_HEIGHT + SPACE_BETWEEN_ROWS));
    caption->left = origin.x;
    caption->top = (int16_t)(top + CAPTION_TOP_OFFSET);
    caption->right = (int16_t)(origin.x + caption_width);
    caption->bottom = (int16_t)(caption->top + ROW_HEIGHT);
    key_field->left = (int16_t)(origin.x + caption_width + SPACE_BETWEEN_EDITTEXT_AND_CAPTION);
    key_field->top = top;
    key_field->right = (int16_t)(key_field->left + EDIT_TEXT_WIDTH);
    key_field->bottom = (int16_t)(top + ROW_HEIGHT);
}

// Drawn every frame while the help key is held (or F1 outside films and
// single-player games, where F1 is free).
void rasterize_keybindings(view_data *view)
{
    if (!view || !view->screen) return;
    const bool shown = key_down(_key_help) ||
                       (key_down(_key_f1) && game_->type != _game_type_replay && game_->type != _game_type_local);
    if (!shown) return;
    const int32_t action_list = string_list_tag_to_string_index(ACTION_NAME_STRING_LIST_TAG);
    const int32_t key_list = string_list_tag_to_string_index(KEY_NAME_STRING_LIST_TAG);
    if (action_list == NONE || key_list == NONE) return;

    static const rgb_color black = {0, 0, 0, 0};
    static const rgb_color white = {0xFFFF, 0xFFFF, 0xFFFF, 0};
    enum { HALF_STRENGTH = 32768 };
    const input_definition *definition = get_input_definition();
    int16_t controls[MAXIMUM_CONFIGURABLE_CONTROLS];
    const int16_t count = build_configurable_control_list(definition, controls);
    const int16_t rows_per_column = keybinding_overlay_rows_per_column(definition);
    const int32_t font = get_interface_font_index(1);
    const int16_t flags = (int16_t)(definition->flags & _input_definition_alternate_preset_recall_flag);
    for (int16_t i = 0; i < count; i++)
    {
        const control_definition &control = definition->controls[controls[i]];
        const rectangle2d box = keybinding_overlay_row_bounds(view->hole, i, rows_per_column);
        fill_rectangle_clipped(view->screen, &black, &box, nullptr, HALF_STRENGTH, nullptr);
        if (font == NONE) continue;
        draw_string(view->screen, nullptr, &box, nullptr, font, NONE, &white,
                    get_control_action_string(action_list, control.action_bit, flags),
                    _draw_string_center_vertical_flag, 0);
        draw_string(view->screen, nullptr, &box, nullptr, font, NONE, &white, get_key_string(key_list, control.code),
                    _draw_string_right_justified_flag | _draw_string_center_vertical_flag, 0);
    }
}

void initialize_keybindings(void)
{
    register_postrasterization_effect_procedure(rasterize_keybindings, KEYBINDINGS_POSTRASTERIZATION_PRIORITY);
}

// ---- the dialog ----------------------------------------------------------------------------

namespace {

const int16_t selector_items[NUMBER_OF_KEY_BINDING_SELECTORS] = {iCAPS_LOCK_SELECTOR, iHORIZONTAL_MOVEMENT_SELECTOR,
                                                                 iWHEEL_SELECTOR, iRIGHT_CLICK_SELECTOR};

void build_selector_tables(void)
{
    keybinding_dialog_state &globals = keybinding_dialog_globals;
    for (int16_t s = 0; s < NUMBER_OF_KEY_BINDING_SELECTORS; s++)
    {
        int16_t count = 0;
        const key_binding_selector_row *rows = get_key_binding_selector_rows(s, &count);
        globals.selector_tables[s][0] = {"", count};
        for (int16_t r = 0; r < count; r++) globals.selector_tables[s][r + 1] = {rows[r].text, rows[r].value};
    }
    globals.set_table[0] = {"", NUMBER_OF_INPUT_SETS};
    for (int16_t i = 0; i < NUMBER_OF_INPUT_SETS; i++) globals.set_table[i + 1] = {globals.editor.sets[i].name, i};
}

void items_to_dialog(dialog_data *dialog, const key_binding_items &items)
{
    const keybinding_dialog_state &globals = keybinding_dialog_globals;
    for (int16_t i = 0; i < items.count; i++)
    {
        set_bitmap_dialog_static_item_text(dialog, (int16_t)(iACTION + 2 * i), items.captions[i]);
        set_bitmap_dialog_edit_item_text(dialog, (int16_t)(iKEY + 2 * i), items.key_texts[i]);
    }
    for (int16_t i = 0; i < NUMBER_OF_KEY_BINDING_CHECKBOXES; i++)
        set_checkbox_state(dialog, (int16_t)(FIRST_KEY_BINDING_CHECKBOX + i), items.checked[i]);
    for (int16_t item : {iTOP_CORNERS_TURN_CAMERA, iBOTTOM_CORNERS_ORBIT_CAMERA, iREVERSE_AXIS})
        bitmap_set_item_enabled(dialog, item, items.camera_corner_items_enabled);
    for (int16_t s = 0; s < NUMBER_OF_KEY_BINDING_SELECTORS; s++)
        set_enum_selector_value(dialog, selector_items[s], globals.selector_tables[s], items.selectors[s]);
    set_enum_selector_value(dialog, iCONTROL_SET_SELECTOR, globals.set_table, items.selected_set);
    set_bitmap_dialog_static_item_text(dialog, iSTATUS_TEXT, items.status_text);
    bitmap_set_item_enabled(dialog, iKEY_BINDING_OK, items.ok_enabled);
}

void dialog_to_items(const dialog_data *dialog, key_binding_items *items)
{
    const keybinding_dialog_state &globals = keybinding_dialog_globals;
    for (int16_t i = 0; i < items->count; i++)
        get_bitmap_dialog_edit_item_text(dialog, (int16_t)(iKEY + 2 * i), items->key_texts[i],
                                         (int32_t)sizeof(items->key_texts[i]));
    for (int16_t i = 0; i < NUMBER_OF_KEY_BINDING_CHECKBOXES; i++)
        items->checked[i] = get_checkbox_state(dialog, (int16_t)(FIRST_KEY_BINDING_CHECKBOX + i));
    for (int16_t s = 0; s < NUMBER_OF_KEY_BINDING_SELECTORS; s++)
        items->selectors[s] = (int16_t)get_enum_selector_value(dialog, selector_items[s], globals.selector_tables[s]);
    items->selected_set = (int16_t)get_enum_selector_value(dialog, iCONTROL_SET_SELECTOR, globals.set_table);
}

// Places a caption and a key field for every rebindable control in the two
// columns items 4 and 5 mark.
void build_key_rows(dialog_data *dialog, const key_binding_editor &editor)
{
    const key_binding_items &items = editor.items;
    const int32_t font = get_interface_font_index(0);
    int16_t widths[MAXIMUM_CONFIGURABLE_CONTROLS];
    for (int16_t i = 0; i < items.count; i++)
        widths[i] = (int16_t)(font != NONE ? string_width(font, 0, items.captions[i]) : 0);
    const int16_t caption_width = key_binding_caption_width(widths, items.count);
    rectangle2d first, second;
    get_dialog_item_bounds(dialog, iKEY_COLUMN1_TOP_LEFT, &first);
    get_dialog_item_bounds(dialog, iKEY_COLUMN2_TOP_LEFT, &second);
    for (int16_t i = 0; i < items.count; i++)
    {
        rectangle2d caption, key_field;
        key_binding_row_bounds({first.left, first.top}, {second.left, second.top}, caption_width, i, items.count,
                               &caption, &key_field);
        new_unpressed_control(dialog, STATIC_TEXT_CONTROL_TAG, (int16_t)(iACTION + 2 * i), &caption, items.captions[i]);
        if (new_unpressed_control(dialog, KEYBINDING_CONTROL_TAG, (int16_t)(iKEY + 2 * i), &key_field,
                                  items.key_texts[i]))
            set_dialog_item_refcon(dialog, (int16_t)(iKEY + 2 * i), editor.key_list_index);
    }
    for (int16_t item : {iKEY_COLUMN1_TOP_LEFT, iKEY_COLUMN2_TOP_LEFT, iSYSTEM_KEY_LAYOUT})
        bitmap_set_item_visible(dialog, item, false);
}

} // namespace

bool modal_control_prefs_dialog(void)
{
    keybinding_dialog_state &globals = keybinding_dialog_globals;
    key_binding_editor &editor = globals.editor;
    if (!open_key_binding_editor(&editor)) return false;
    // A missing dialog tag would end the program inside new_dialog; the
    // preferences dialog stays usable without the editor.
    if (tag_file_open(DIALOG_GROUP_TAG, KEYBOARD_PREFS_DIALOG_TAG) == NONE)
    {
        log_message(__FILE__, __LINE__, "key bindings: the editor's dialog is missing");
        return false;
    }
    dialog_data *dialog = new_dialog(KEYBOARD_PREFS_DIALOG_TAG, nullptr, nullptr, NONE, _dialog_is_centered_flag);
    if (!dialog) return false;
    // Without its own background the editor keeps the dialog elements' one:
    // asked for blindly, a missing collection is an error box over the dialog.
    const int32_t background = get_collection_index_if_present(KEYBOARD_PREFS_DIALOG_TAG);
    if (background != NONE) set_dialog_background(dialog, (int16_t)background, 0);
    else log_message(__FILE__, __LINE__, "key bindings: no background collection '!key': the editor keeps the shared one");
    build_selector_tables();
    build_key_rows(dialog, editor);
    items_to_dialog(dialog, editor.items);
    set_dialog_focus(dialog, iKEY);

    int16_t outcome = _key_binding_editor_stays;
    while (outcome == _key_binding_editor_stays)
    {
        const int16_t item = modal_dialog(dialog);
        if (item == NONE)
        {
            // The dialog went away under us: nothing is saved.
            set_current_keyboard_layout(editor.remembered_layout);
            outcome = _key_binding_editor_cancelled;
            break;
        }
        dialog_to_items(dialog, &editor.items);
        outcome = key_binding_editor_item_hit(&editor, item);
        if (outcome == _key_binding_editor_stays) items_to_dialog(dialog, editor.items);
    }
    dispose_dialog(dialog);
    return outcome == _key_binding_editor_saved;
}

namespace {

bool startup_keybindings(void)
{
    initialize_keybindings();
    return true;
}

} // namespace

void register_keybinding_dialog_hooks(void)
{
    register_key_binding_editor_procedure(modal_control_prefs_dialog);
    register_startup_procedure(_startup_key_bindings, startup_keybindings);
}
