#include "support/dialog_script.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "bitmap_dialogs/list_control.h"

script_step on_dialog(std::function<void(dialog_data *)> work)
{
    return call_step([work](action_data &) { work(get_modal_dialog()); }, make_test_action());
}

void inspect(std::function<void(dialog_data *)> work)
{
    add_script_step(on_dialog(work));
}

void settle(int passes)
{
    for (int i = 0; i < passes; ++i) add_script_step(action_step(make_test_action()));
}

void press(int16_t item)
{
    add_script_step(on_dialog([item](dialog_data *dialog) {
        if (dialog) press_item(dialog, nullptr, item);
        else ADD_FAILURE() << "no modal dialog to press item " << item << " of";
    }));
    settle();
}

void click_row(int16_t item, std::function<int16_t(dialog_data *)> row_of)
{
    auto at = std::make_shared<point2d>();
    add_script_step(call_step(
        [=](action_data &action) {
            dialog_data *dialog = get_modal_dialog();
            if (!dialog)
            {
                ADD_FAILURE() << "no modal dialog to click item " << item << " of";
                return;
            }
            const int16_t row = row_of(dialog);
            rectangle2d bounds;
            get_dialog_item_bounds(dialog, item, &bounds);
            bool found = false;
            for (int16_t y = bounds.top; row >= 0 && y < bounds.bottom && !found; ++y)
            {
                const point2d point = {(int16_t)(bounds.left + 8), y};
                if (bitmap_list_get_row_at_point(dialog, item, point, nullptr) == row)
                {
                    // A little inside the row, clear of its edge.
                    *at = {point.x, (int16_t)(y + 2)};
                    found = true;
                }
            }
            if (!found) ADD_FAILURE() << "row " << row << " of item " << item << " is not on show";
            action = make_click_action((int16_t)(dialog->bounds.left + at->x), (int16_t)(dialog->bounds.top + at->y));
        },
        make_test_action()));
    add_script_step(call_step(
        [=](action_data &action) {
            dialog_data *dialog = get_modal_dialog();
            if (!dialog) return;
            action = make_release_action((int16_t)(dialog->bounds.left + at->x), (int16_t)(dialog->bounds.top + at->y));
        },
        make_test_action()));
    settle();
}

namespace
{
std::function<bool()> passing_done;
std::chrono::steady_clock::time_point passing_deadline;

void keep_passing(action_data &)
{
    if (passing_done() || std::chrono::steady_clock::now() > passing_deadline)
    {
        grant_script_grace_passes(8);
        return;
    }
    script_step step = idle_step(1);
    step.before = keep_passing;
    add_script_step(step);
}
} // namespace

void pass_until(std::function<bool()> done)
{
    passing_done = std::move(done);
    passing_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    script_step step = idle_step(1);
    step.before = keep_passing;
    add_script_step(step);
}
