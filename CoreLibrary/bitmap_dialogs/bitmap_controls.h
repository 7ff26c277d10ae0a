#pragma once
// The control protocol: verbs, their parameter records, the control registry.
//
// Every item belongs to a control type named by a four-character code
// (case-sensitive: 'STAT' and 'stat' are different types).  A type is one
// control_def_proc that the dialog layer calls with a verb for everything it
// needs of the item; the procedure handles the verbs it cares about and passes
// the others to default_control_handler (or to the type it extends).  Its
// create verb allocates its own record, starting with a cookie that its
// accessors check; its dispose verb frees it.
//
// The registry is filled once at start-up (register_vesk_controls, before any
// dialog exists) and read-only afterwards.  Main thread only.

#include <cstdint>
#include <cstdlib>

#include "bitmap_dialogs/bitmap_dialogs.h"

enum control_verb
{
    _control_new_verb = 0,                 // param_control_new_verb; result: the item's extra data
    _control_new_completion_verb = 1,      // no parameter; result ignored
    _control_dispose_verb = 2,             // param_control_dispose_verb; result ignored
    _control_click_verb = 3,               // param_control_click_verb; nonzero: the press completes
    _control_key_verb = 4,                 // param_control_key_verb; nonzero: the key was used
    _control_focus_verb = 5,               // param_control_focus_verb; gaining: nonzero = accepts
    _control_draw_verb = 6,                // param_control_draw_verb; result ignored
    _control_accept_new_state_verb = 7,    // param_control_accept_new_state_verb; result ignored
    _control_requires_idle_time_verb = 8,  // no parameter; nonzero: wants the idle verb
    _control_idle_verb = 9,                // no parameter; nonzero: redraw the item
    _control_wheel_verb = 10,              // param_control_wheel_verb; nonzero: the wheel was used
    NUMBER_OF_CONTROL_VERBS = 11
};

struct param_control_new_verb
{
    const file_control_data *definition; // identifier already offset by the base
    const char *text;                    // never NULL ("" when the tag has none)
};

struct param_control_dispose_verb
{
    void *data; // the item's extra data
};

// The action's pointer is in dialog coordinates.
struct param_control_click_verb
{
    action_data *action;
};

struct param_control_key_verb
{
    action_data *action;
};

struct param_control_focus_verb
{
    bool gaining_focus;
};

enum
{
    _control_draw_has_focus_flag = 1, // bit 0 of draw_flags
};

struct param_control_draw_verb
{
    bitmap_data *dialog_bitmap; // the dialog is drawn into it; item bounds are in its coordinates
    uint16_t draw_flags;
};

// -1 for the side that did not change, else 0 or 1.
struct param_control_accept_new_state_verb
{
    int16_t enabled;
    int16_t visible;
};

// The action's pointer is in dialog coordinates.
struct param_control_wheel_verb
{
    action_data *action;
};

// The fallback every type passes unhandled verbs to.  Create: a copy of the
// item's text (NULL when memory runs out).  Dispose: frees that copy.  Click:
// the default press tracking (pressed while the button is held inside the
// item; 1 exactly when released inside; a state change marks the item
// dirty).  Verbs 1 and 4-10: 0.  Any other verb: a logged halt, 0.
intptr_t default_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// The create verb's record of a control type: zeroed, its `cookie` member
// set; NULL when memory runs out.  The type's dispose verb frees it (the
// default handler does, when the record owns nothing else).
template <typename record_type> record_type *new_control_record(int32_t cookie)
{
    record_type *record = (record_type *)calloc(1, sizeof(record_type));
    if (record) record->cookie = cookie;
    return record;
}

// Bit `bit` of an action's flags (a key or button held), as the controls
// read them.
inline bool action_flag_set(const action_data *action, int32_t bit)
{
    return TEST_FLAG(action->flags[bit / 32], bit % 32);
}
inline bool is_left_button_down(const action_data *action) { return action_flag_set(action, _left_mouse_down_bit); }

// Logs a refused control record as the assertion `assertion` (see get_control_record).
void report_foreign_control_record(const char *assertion);

// The record of the item `item_id` made by `procedure` when it carries
// `cookie`; NULL otherwise.  The procedure is compared before the record is
// read: another type's record may be shorter than a cookie.  A missing item
// is logged "control" (find_control_of_type); an item of another type,
// without a record or with another cookie is logged as the assertion
// `assertion`, or refused quietly when `assertion` is NULL.  `item_out`, when
// given, receives the item of a record returned.
template <typename record_type>
record_type *get_control_record(const dialog_data *dialog, int16_t item_id, control_def_proc procedure,
                                decltype(record_type::cookie) cookie, const char *assertion,
                                control_data **item_out = nullptr)
{
    control_data *item = find_control_of_type(dialog, item_id, procedure);
    if (!item) return nullptr;
    record_type *record = item->handler == procedure ? (record_type *)item->extra_data : nullptr;
    if (!record || record->cookie != cookie)
    {
        if (assertion) report_foreign_control_record(assertion);
        return nullptr;
    }
    if (item_out) *item_out = item;
    return record;
}

// Adds a control type to an ordered list of one procedure per tag
// (cseries/registration.h): a null procedure, a tag that has one already and
// one type past MAXIMUM_CONTROL_TYPES are refused with the lists' logged
// assertion (false); the first registration stays.
enum { MAXIMUM_CONTROL_TYPES = 64 };
bool register_control_procedure(file_tag tag, control_def_proc procedure);

// The procedure registered for the code, NULL when none.
control_def_proc find_control_handler(file_tag tag);

// Registers the core control types in their order, stopping at the first
// failure; the last result.  A code with no control procedure in the table is
// left out, so items of that type are skipped when a dialog loads.
bool register_dialog_controls(void);
