#include "input/action_queue.h"
#include "action_queue_procedures.h"

#include <mutex>

#include "screen_procedures.h"
#include "cseries/cseries.h"
#include "cseries/queues.h"
#include "cseries/registration.h"
#include "game_hooks.h"
#include "game_time.h"
#include "input/input_controller_sdl.h"
#include "input/keyboard.h"
#include "vesk.h"

namespace {

enum
{
    DEFAULT_SCREEN_WIDTH = 640,
    DEFAULT_SCREEN_HEIGHT = 480,
    LOGICAL_DPI = 96, // pointer positions are in pixels of a 96-dpi screen
};

struct action_queue_globals
{
    action_data buffer[MAXIMUM_ACTION_QUEUE_SIZE];
    queue actions;
    // Two threads queue records; the stamp of one record depends on the one
    // before it, so stamping and queueing happen together under this lock.
    std::mutex queue_action_lock;
    int32_t last_queued_time;
};

action_queue_globals action_globals;


// Where a flag lives; false (assertion) for a bit outside the flags.
bool action_flag_position(int32_t bit, int32_t *word, uint32_t *mask)
{
    if (!ASSERT(bit>=0 && bit<NUMBER_OF_ACTION_FLAGS)) return false;
    *word = bit / 32;
    *mask = 1u << (bit % 32);
    return true;
}

bool action_flag_range_fits(int32_t valid_bit, int32_t number_of_bits)
{
    return VASSERT(number_of_bits >= 0 && number_of_bits < 31 && valid_bit >= 0 &&
                       valid_bit + number_of_bits < NUMBER_OF_ACTION_FLAGS,
                   "flag range outside the action flags");
}

int16_t to_logical_pixels(int32_t physical, int32_t dpi)
{
    const int32_t logical = physical * LOGICAL_DPI / dpi;
    return (int16_t)(logical > INT16_MAX ? INT16_MAX : logical);
}

int32_t clamp_coordinate(int32_t value, int32_t size, bool *clamped)
{
    if (size < 1) size = 1;
    if (value < 0)
    {
        *clamped = true;
        return 0;
    }
    if (value > size - 1)
    {
        *clamped = true;
        return size - 1;
    }
    return value;
}

bool startup_actions(void)
{
    return initialize_actions();
}

} // namespace

// ---- the queue ------------------------------------------------------------------

bool initialize_actions(void)
{
    queue_new(&action_globals.actions, action_globals.buffer, sizeof(action_data), MAXIMUM_ACTION_QUEUE_SIZE);
    {
        std::lock_guard<std::mutex> guard(action_globals.queue_action_lock);
        action_globals.last_queued_time = game_->local_time.load();
    }
    initialize_action_preprocessing();
    // The selection is started by its own registration (register_selection_hooks),
    // which the input layer below it cannot call.
    return initialize_keyboard();
}

bool initialize_actions_for_new_map(void)
{
    return true;
}

void dispose_actions_from_old_map(void)
{
}

void flush_actions(void)
{
    queue_clear(&action_globals.actions);
}

// Stamps and stores one record; the caller holds the queue lock.
static bool queue_action_locked(const action_data *action)
{
    action_data stamped = *action;
    stamped.time = game_->local_time.load();
    int32_t delta = stamped.time - action_globals.last_queued_time;
    if (delta < 0) delta = 0;
    if (delta > 1) delta = 1;
    stamped.time_delta = delta;
    if (!queue_push(&action_globals.actions, &stamped)) return false; // full: dropped
    action_globals.last_queued_time = stamped.time;
    return true;
}

bool queue_action(const action_data *action)
{
    if (!VASSERT(action, "no action to queue")) return false;
    std::lock_guard<std::mutex> guard(action_globals.queue_action_lock);
    return queue_action_locked(action);
}

bool queue_action_and_advance_local_time(const action_data *action)
{
    if (!VASSERT(action, "no action to queue")) return false;
    std::lock_guard<std::mutex> guard(action_globals.queue_action_lock);
    const bool queued = queue_action_locked(action);
    advance_local_time();
    return queued;
}

int32_t update_actions(void)
{
    // Local time and the records waiting are read together: the keyboard task
    // queues its record and advances the time as one step, so a record is
    // never taken here before the tick it opened has been counted.
    // The timer thread may not read the game record: it sees the state as
    // this frame found it.
    publish_game_state_to_keyboard_task(game_->state);
    int32_t now, waiting;
    {
        std::lock_guard<std::mutex> guard(action_globals.queue_action_lock);
        now = game_->local_time.load();
        waiting = queue_count(&action_globals.actions);
    }
    bool any = false;
    int32_t earliest = now;
    action_data action;
    while (waiting-- > 0 && queue_pop(&action_globals.actions, &action))
    {
        if (!any || action.time < earliest) earliest = action.time;
        any = true;
        preprocess_action(&action);
        process_action(&action);
    }
    return any ? now - earliest : 0;
}

void register_action_queue_hooks(void)
{
    register_startup_procedure(_startup_actions, startup_actions);
    static const action_queue_procedures procedures = {
        .update_actions = update_actions,
        .flush_actions = flush_actions,
        .set_keyboard_queue_task_state = set_keyboard_queue_task_state,
    };
    register_action_queue_procedures(&procedures);
}

// ---- flags of one record ----------------------------------------------------------

bool test_action_flag(const action_data *action, int32_t bit)
{
    int32_t word;
    uint32_t mask;
    if (!action || !action_flag_position(bit, &word, &mask)) return false;
    return (action->flags[word] & mask) != 0;
}

void set_action_flag(action_data *action, int32_t bit)
{
    int32_t word;
    uint32_t mask;
    if (!action || !action_flag_position(bit, &word, &mask)) return;
    action->flags[word] |= mask;
}

void clear_action_flag(action_data *action, int32_t bit)
{
    int32_t word;
    uint32_t mask;
    if (!action || !action_flag_position(bit, &word, &mask)) return;
    action->flags[word] &= ~mask;
}

int32_t get_action_flag_range(const action_data *action, int32_t valid_bit, int32_t number_of_bits)
{
    if (!action || !action_flag_range_fits(valid_bit, number_of_bits)) return NONE;
    if (!test_action_flag(action, valid_bit)) return NONE;
    int32_t value = 0;
    for (int32_t i = 0; i < number_of_bits; ++i)
        if (test_action_flag(action, valid_bit + 1 + i)) value |= 1 << i;
    return value;
}

void set_action_flag_range(action_data *action, int32_t valid_bit, int32_t value)
{
    if (!action || !action_flag_range_fits(valid_bit, NUMBER_OF_PRESET_SELECTION_OR_FORMATION_BITS)) return;
    if (test_action_flag(action, valid_bit)) return; // the first value stored wins
    const int32_t mask = (1 << NUMBER_OF_PRESET_SELECTION_OR_FORMATION_BITS) - 1;
    VWARN((value & ~mask) == 0, "flag range value does not fit in its bits");
    set_action_flag(action, valid_bit);
    for (int32_t i = 0; i < NUMBER_OF_PRESET_SELECTION_OR_FORMATION_BITS; ++i)
        if (value & mask & (1 << i)) set_action_flag(action, valid_bit + 1 + i);
}

// ---- the pointer ----------------------------------------------------------------------

bool get_mouse_position_vesk(int16_t *x, int16_t *y)
{
    pointer_screen_data screen = {DEFAULT_SCREEN_WIDTH, DEFAULT_SCREEN_HEIGHT, LOGICAL_DPI, true};
    const auto read_screen = get_screen_procedures()->read_pointer_screen;
    if (read_screen) read_screen(&screen);
    // A screen that reports no density is taken at the logical density rather
    // than dividing by zero.
    const int32_t dpi = screen.dpi > 0 ? screen.dpi : LOGICAL_DPI;

    int16_t physical_x = 0, physical_y = 0;
    get_mouse_position(&physical_x, &physical_y);

    bool clamped = false;
    const int32_t clamped_x = clamp_coordinate(physical_x, screen.width, &clamped);
    const int32_t clamped_y = clamp_coordinate(physical_y, screen.height, &clamped);
    if (x) *x = to_logical_pixels(clamped_x, dpi);
    if (y) *y = to_logical_pixels(clamped_y, dpi);
    return !clamped && screen.window_active;
}
