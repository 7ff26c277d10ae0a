// The mouse cursor: when the pointer shows, and the sprite cursor.
#include "mouse_cursor/mouse_cursor.h"

#include "bitmap_drawing.h"
#include "bitmaps.h"
#include "cseries/log.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "input/action_queue.h"
#include "input/keyboard.h"
#include "interface_definitions.h"
#include "platform_events.h"
#include "screen_sdl.h"
#include "shading_tables.h"
#include "shapes.h"

namespace {

mouse_cursor_globals_data mouse_cursor_globals = {
    /*cursor_is_visible*/ {true},
    /*cursor_type*/ NONE,
    /*collection_index*/ NONE,
    /*sequence_index*/ MOUSE_CURSOR_SEQUENCE_INDEX,
    /*color_table_index*/ NONE,
    /*view_index*/ NONE,
    /*bitmap_index*/ 0,
    /*last_pointer*/ {0, 0},
    /*cursor_visible_ticks*/ 0,
    /*last_game_state*/ NONE,
};

bool is_modal_state(int16_t state)
{
    return state == _game_state_modal_dialog || state == _game_state_modal_loop || state == _game_state_modal_draw_loop;
}

// The states in which an idle pointer hides: what plays by itself.
bool pointer_hides_when_idle(int16_t state)
{
    switch (state)
    {
    case _game_state_displaying_intro_sequence:
    case _game_state_displaying_mesh_prologue:
    case _game_state_displaying_cutscene:
        return true;
    case _game_state_running:
        return game_->type == _game_type_replay && !(game_->flags.load() & _game_is_paused_flag);
    default:
        return false;
    }
}

void clear_mouse_cursor(void)
{
    mouse_cursor_globals.cursor_type = NONE;
    mouse_cursor_globals.collection_index = NONE;
}

// The first action consumer: it watches every action and never takes one.
bool mouse_cursor_action_consumer(action_data *action)
{
    update_mouse_cursor_visibility(action);
    return false;
}

} // namespace

void initialize_mouse_cursor(void) { clear_mouse_cursor(); }

void dispose_mouse_cursor_from_old_map(void) { clear_mouse_cursor(); }

void initialize_mouse_cursor_for_new_map(void)
{
    if (mouse_cursor_globals.cursor_type != _mouse_cursor_pointer_windows) set_mouse_cursor(_mouse_cursor_pointer_windows);
}

void set_mouse_cursor(int16_t type)
{
    if (!VASSERT(type >= 0 && type < NUMBER_OF_MOUSE_CURSOR_TYPES,
                 "new_cursor_type>=0 && new_cursor_type<NUMBER_OF_MOUSE_CURSOR_TYPES"))
        return;
    if (type == mouse_cursor_globals.cursor_type) return;
    mouse_cursor_globals.cursor_type = type;
    const int32_t collection = get_interface_collection();
    if (collection == NONE) return;
    if (!get_sequence_bitmap(collection, MOUSE_CURSOR_SEQUENCE_INDEX, type, 0, nullptr, nullptr)) return;
    mouse_cursor_globals.collection_index = (int16_t)collection;
    mouse_cursor_globals.sequence_index = MOUSE_CURSOR_SEQUENCE_INDEX;
    mouse_cursor_globals.color_table_index = (int16_t)get_interface_color_table_index();
    mouse_cursor_globals.view_index = type;
    mouse_cursor_globals.bitmap_index = 0;
}

bool mouse_cursor_visible(void) { return mouse_cursor_globals.cursor_is_visible.load(); }

void update_mouse_cursor_visibility(const action_data *action)
{
    bool visible = true;
    if (!is_windowed_now())
    {
        const int16_t state = is_modal_state(game_->state) ? game_->state_when_in_modal_loop : game_->state;
        const int16_t previous = mouse_cursor_globals.last_game_state;
        mouse_cursor_globals.last_game_state = state;

        if (action)
        {
            int32_t ticks = mouse_cursor_globals.cursor_visible_ticks - action->time_delta;
            if (ticks < 0) ticks = 0;
            if (ticks > MOUSE_CURSOR_VISIBLE_TICKS) ticks = MOUSE_CURSOR_VISIBLE_TICKS;
            mouse_cursor_globals.cursor_visible_ticks = (int16_t)ticks;
            if (!equal_point2d(&action->pointer, &mouse_cursor_globals.last_pointer) ||
                test_action_flag(action, _left_mouse_down_bit) || test_action_flag(action, _right_mouse_down_bit))
            {
                mouse_cursor_globals.last_pointer = action->pointer;
                mouse_cursor_globals.cursor_visible_ticks = MOUSE_CURSOR_VISIBLE_TICKS;
            }
        }

        if (pointer_hides_when_idle(state))
        {
            if (state != previous)
            {
                // Entering such a state hides the pointer at once, moving or not.
                mouse_cursor_globals.cursor_visible_ticks = 0;
                visible = false;
            }
            else
            {
                visible = mouse_cursor_globals.cursor_visible_ticks > 0;
            }
        }
    }
    if (visible != mouse_cursor_globals.cursor_is_visible.load())
    {
        if (visible)
            show_cursor();
        else
            hide_cursor();
        mouse_cursor_globals.cursor_is_visible.store(visible);
    }
}

void rasterize_mouse_cursor(bitmap_data *destination)
{
    if (!destination || mouse_cursor_globals.collection_index == NONE) return;
    const int32_t collection = mouse_cursor_globals.collection_index;
    point2d registration = {0, 0};
    const int32_t bitmap_index =
        get_sequence_bitmap_index(collection, mouse_cursor_globals.sequence_index, mouse_cursor_globals.view_index,
                                  mouse_cursor_globals.bitmap_index, &registration, nullptr);
    if (bitmap_index == NONE) return;
    const bitmap_data *sprite = get_bitmap(collection, bitmap_index);
    if (!sprite) return;
    int16_t x = 0, y = 0;
    get_mouse_position_vesk(&x, &y);
    const point2d corner = {(int16_t)(x - registration.x), (int16_t)(y - registration.y)};
    copy_bitmap(destination, &corner, sprite, nullptr,
                get_shading_table(collection, mouse_cursor_globals.color_table_index, 0), 0,
                get_transparency_table(_transparency_normal));
}

const mouse_cursor_globals_data *get_mouse_cursor_globals(void) { return &mouse_cursor_globals; }

void register_mouse_cursor_hooks(void)
{
    register_action_procedure(_action_cursor_visibility, mouse_cursor_action_consumer);
    register_mouse_cursor_visible_procedure(mouse_cursor_visible);
}
