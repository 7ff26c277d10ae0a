#pragma once
// What the tests of dialog input and modal loops share: one test clock behind
// machine_tick_count and the game's local time, a builder of input actions,
// and a scripted main-loop pass.
//
// The scripted pass plugs the action queue's update_actions (its table, with
// the queue's own other members) and the core's draw_frame slot, so
// the real update_everything runs (modal loops call it): each pass takes the
// next step of the script, advances the clock, hands the step's action to
// process_action (modal loop first, then the dialogs, as in the game) and
// then idles and draws the dialogs.  A pass that finds the script empty fails
// the test and throws script_ran_dry, which unwinds any modal loop: a loop
// that never ends cannot hang the suite.

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "input/action_queue.h"
#include "support/dialog_harness.h"

struct bitmap_data;

// ---- the test clock ------------------------------------------------------------------

// Replaces machine_tick_count with the test clock, which starts at
// `start_milliseconds` (near the 32-bit wrap, to test unsigned differences)
// with the game's local time at 0.
void install_test_clock(uint32_t start_milliseconds = 0);
// The real machine clock again.
void remove_test_clock(void);

// The clock counts milliseconds; the local time is the whole ticks (30 a
// second) they make.  Advancing by ticks moves to the first millisecond at
// which the local time has advanced that much.
void advance_test_clock_ticks(int32_t ticks);
void advance_test_clock_milliseconds(uint32_t milliseconds);
uint32_t test_clock_milliseconds(void);

// ---- actions -----------------------------------------------------------------------------

// "Nothing happened" over `time_delta` ticks: no flags, no key (NONE), no
// wheel, the pointer at (0, 0), time = the game's local time.
action_data make_test_action(int32_t time_delta = 1);
// The pointer at (x, y) with the left button held (34) and, for a click, gone down (35).
action_data make_click_action(int16_t x, int16_t y);
action_data make_hold_action(int16_t x, int16_t y);
// The pointer at (x, y), the button up.
action_data make_release_action(int16_t x, int16_t y);
// A key press: its internal code and ASCII code (NONE for none).
action_data make_key_action(int16_t key_code, int16_t ascii_code);
action_data make_wheel_action(int16_t x, int16_t y, int16_t wheel_delta);
// The right button held (37) and clicked (38) at (x, y).
action_data make_right_click_action(int16_t x, int16_t y);
// A copy with one more action flag set.
action_data with_action_flag(action_data action, int32_t bit);

// ---- the scripted main-loop pass -------------------------------------------------------------

struct script_step
{
    bool has_action = false;
    action_data action = {};
    // Machine milliseconds the pass takes; NONE: the action's time_delta in ticks.
    int32_t milliseconds = -1;
    // Run at the start of the pass, before the clock advances; it may change
    // the action (a position known only once the pass runs).
    std::function<void(action_data &action)> before;
};

script_step action_step(const action_data &action);
// A pass without an action, `milliseconds` long.
script_step idle_step(int32_t milliseconds = 34);
script_step call_step(std::function<void(action_data &action)> before, const action_data &action);

// Thrown by a pass that finds the script empty (after the failure is recorded).
struct script_ran_dry
{
};

// Plugs the action queue's table (update_actions) and the core's draw_frame
// slot (empty them first: reset_game_core) with the scripted pass; `screen` (may be NULL) is what
// render_dialogs draws into.  With `program_draws` the draw_frame slot is
// left to the program's own (its real screen).  Forgets any earlier script.
void start_main_loop_script(bitmap_data *screen, bool program_draws = false);
// Forgets the steps left and the count of passes; the slots stay plugged.
void restart_main_loop_script(void);
// Up to `passes` idle passes for a script that has run empty, until a step
// is added: a wait that ends inside a nested pass (a room entered from the
// lobby's pump) still finishes its outer passes.
void grant_script_grace_passes(int32_t passes);
void add_script_steps(std::initializer_list<script_step> steps);
void add_script_step(const script_step &step);
size_t script_steps_left(void);
// Passes run since start_main_loop_script.
int32_t script_passes(void);

// ---- the fixture -------------------------------------------------------------------------------

// One call of the recording dialog handler.
struct handler_call
{
    dialog_data *dialog;
    int16_t item_id;
    action_data action;
};

// dialog_test with an empty core and the dialog layer's hooks, the test
// clock, the scripted pass drawing into a memory screen, the right-handed
// key bindings, and a dialog handler that records its calls (and, when a
// test asks, disposes of the dialog it was called for).
class dialog_input_test : public dialog_test
{
protected:
    dialog_test_screen screen;
    std::vector<handler_call> handler_calls;
    bool handler_disposes_dialog = false;

    void SetUp() override;
    void TearDown() override;

    static void recording_handler(dialog_data *dialog, int16_t item_id, action_data *action);
    // The items ids the handler heard, in order.
    std::vector<int16_t> handled_items(void) const;

    // A dialog at (100, 100, 300, 400) (top, left, bottom, right) of `items`,
    // stored as `subgroup`, with the recording handler.
    dialog_data *open_test_dialog(const char *subgroup, const std::vector<dialog_item_description> &items,
                                  uint16_t flags = 0, int16_t sleep_time = NONE);
    // Screen point of the dialog point (x, y) of a dialog made by open_test_dialog.
    static int16_t screen_x(int16_t x) { return (int16_t)(x + 100); }
    static int16_t screen_y(int16_t y) { return (int16_t)(y + 100); }
};

// dialog_input_test over the demo's interface: the demo tags are the
// foundation files (the test is skipped when the data tool is not built,
// failed under CI), and the interface fonts and definitions are loaded
// without a map.  `set_up` is true once the store is open; TearDown closes
// the dialogs left open and disposes of the interface.
class demo_interface_test : public dialog_input_test
{
protected:
    bool set_up = false;
    // The demo's rendered interface fonts instead of the test font (set
    // before SetUp), for tests that measure text as the game draws it.
    bool demo_fonts = false;

    void SetUp() override;
    void TearDown() override;
    // Run once the store is open, before the interface loads: the local tags
    // the interface reads at its start go in here.
    virtual void store_interface_tags(void) {}
};

// demo_interface_test for the game's bars (the control bar and the status
// bar) under gameplay version 1811, with the game preferences at their
// defaults (their flags are put back by TearDown).  TearDown disposes of
// both bars.
class bar_dialogs_test : public demo_interface_test
{
protected:
    uint32_t saved_preferences = 0;

    void SetUp() override;
    void TearDown() override;
};

// Probe answers of an item whose press completes at once.
probe_answers presses_at_once(void);
// Item `id` of a row of 40 x 30 probe items that do not overlap.
dialog_item_description row_item(int16_t id);
