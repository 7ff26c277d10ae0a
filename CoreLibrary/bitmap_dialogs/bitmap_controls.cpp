// The control registry and the default control procedure.

#include "bitmap_controls.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cseries/cseries.h"
#include "cseries/log.h"
#include "cseries/registration.h"

// The control types, one procedure per tag.
static procedure_list<control_def_proc, MAXIMUM_CONTROL_TYPES> control_handlers("control type", _one_per_key);

bool register_control_procedure(file_tag tag, control_def_proc procedure)
{
    return control_handlers.add(procedure, (int32_t)tag);
}

control_def_proc find_control_handler(file_tag tag) { return control_handlers.find((int32_t)tag); }

void report_foreign_control_record(const char *assertion)
{
    assertion_failed(__FILE__, __LINE__, _assertion_vassert, "record && record->cookie==cookie", assertion);
}

static bool point_in_item(const control_data *item, point2d point)
{
    return point.x >= item->bounds.left && point.x < item->bounds.right && point.y >= item->bounds.top &&
           point.y < item->bounds.bottom;
}

intptr_t default_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb:
    {
        const param_control_new_verb *p = (const param_control_new_verb *)parameter;
        const char *text = p && p->text ? p->text : "";
        const size_t size = strlen(text) + 1;
        char *copy = (char *)malloc(size);
        if (copy) memcpy(copy, text, size);
        return (intptr_t)copy;
    }
    case _control_dispose_verb:
        if (parameter) free(((param_control_dispose_verb *)parameter)->data);
        return 0;
    case _control_click_verb:
    {
        const param_control_click_verb *p = (const param_control_click_verb *)parameter;
        control_data *item = find_control(dialog, item_id);
        if (!item || !p || !p->action) return 0;
        const bool inside = point_in_item(item, p->action->pointer);
        const bool down = TEST_FLAG(p->action->flags[_left_mouse_down_bit / 32], _left_mouse_down_bit % 32);
        const uint16_t state = inside && down ? _control_pressed : _control_unpressed;
        const intptr_t result = inside && !down ? 1 : 0;
        if (item->state != state)
        {
            item->state = state;
            set_dialog_item_dirty(dialog, item_id);
        }
        return result;
    }
    case _control_new_completion_verb:
    case _control_key_verb:
    case _control_focus_verb:
    case _control_draw_verb:
    case _control_accept_new_state_verb:
    case _control_requires_idle_time_verb:
    case _control_idle_verb:
    case _control_wheel_verb:
        return 0;
    default:
    {
        char text[64];
        snprintf(text, sizeof(text), "What is verb: %d?", (int)verb);
        HALT(text);
        return 0;
    }
    }
}
