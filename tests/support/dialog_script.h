#pragma once
// Scripted passes that work a modal dialog as a player would, for the
// scripted main-loop pass of dialog_input_harness: each step runs on the
// dialog that is modal when the pass runs.

#include <cstdint>
#include <functional>

#include "support/dialog_input_harness.h"

struct dialog_data;

// A pass that runs `work` on the modal dialog (null when none is modal).
script_step on_dialog(std::function<void(dialog_data *)> work);
void inspect(std::function<void(dialog_data *)> work);
// `passes` passes with nothing happening: a press completes within 12.
void settle(int passes = 12);
// Presses the modal dialog's `item` and lets the press complete.
void press(int16_t item);
// A click on the row `row_of(dialog)` of list `item`, where the player sees
// it, and the passes for the click to complete.
void click_row(int16_t item, std::function<int16_t(dialog_data *)> row_of);
// Passes of a millisecond while `done` says no (at most a minute of real
// time), for loops that run the program until the network answers; the
// steps are added as the passes run, so nothing may be queued after them.
// Once `done` says yes, a few idle passes more are handed out should the
// script run empty: the pass that saw it done may be nested in another.
void pass_until(std::function<bool()> done);
