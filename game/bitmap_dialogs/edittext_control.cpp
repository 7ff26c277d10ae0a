// The edit-text control.

#include "bitmap_dialogs/edittext_control.h"

#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/keybinding_control.h"
#include "bitmap_dialogs/password_edittext.h"
#include "bitmap_drawing.h"
#include "cseries/log.h"
#include "cseries/timers.h"
#include "shapes.h"

static bool is_edittext_item(const control_data *item)
{
    // A key-binding field is an edit-text field with three verbs replaced.
    return item->handler == edittext_control_def_proc || item->handler == password_control_def_proc ||
           item->handler == keybinding_control_def_proc;
}

edittext_data *get_edittext_item_record(const dialog_data *dialog, int16_t item_id)
{
    const control_data *item = find_control(dialog, item_id);
    if (!item) return nullptr;
    edittext_data *edit = (edittext_data *)item->extra_data;
    if (!VASSERT(edit && is_edittext_item(item) && edit->magic_cookie == EDITTEXT_MAGIC_COOKIE, "edit")) return nullptr;
    return edit;
}

static bool is_shift_down(const action_data *action)
{
    return TEST_FLAG(action->flags[_shift_down_bit / 32], _shift_down_bit % 32);
}

// Whether the caret shows now: the first half of every blink second since
// the last press or key.  Unsigned, so a clock wrap changes nothing.
static bool caret_phase_visible(const edittext_data *edit)
{
    const uint32_t elapsed = machine_tick_count() - (uint32_t)edit->user_refcon;
    return elapsed % EDITTEXT_CURSOR_BLINK_PERIOD < EDITTEXT_CURSOR_VISIBLE_TIME;
}

static intptr_t edittext_click(dialog_data *dialog, int16_t item_id, edittext_data *edit, const action_data *action)
{
    if (!is_left_button_down(action))
    {
        edit->last_click_meant = _meant_nothing;
        return 0;
    }
    if (edit->last_click_meant != _meant_nothing)
    {
        // The press goes on: a press that placed the caret drags a
        // selection; one that only focused changes nothing.
        if (edit->last_click_meant == _meant_place_cursor)
        {
            make_selection(edit, action->pointer, false);
            set_dialog_item_dirty(dialog, item_id);
        }
        return 0;
    }
    if (get_dialog_focus(dialog) != item_id)
    {
        set_dialog_focus(dialog, item_id); // selects the whole text
        edit->last_click_meant = _meant_focus;
        return 0;
    }
    if (is_shift_down(action)) make_selection(edit, action->pointer, true);
    else place_cursor(edit, action->pointer);
    set_dialog_item_dirty(dialog, item_id);
    return 0;
}

intptr_t edittext_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    if (verb == _control_new_verb)
    {
        const param_control_new_verb *p = (const param_control_new_verb *)parameter;
        if (!p || !p->definition) return 0;
        edittext_data *edit = new_edittext(&p->definition->bounds, p->definition->flags | _draw_focus_box_flag);
        if (!edit) return 0;
        set_edittext_string(edit, p->text);
        edit->user_refcon = (intptr_t)machine_tick_count();
        return (intptr_t)edit;
    }
    if (verb == _control_dispose_verb)
    {
        const param_control_dispose_verb *p = (const param_control_dispose_verb *)parameter;
        if (p && p->data) dispose_edittext((edittext_data *)p->data);
        return 0;
    }
    if (verb == _control_requires_idle_time_verb) return 1;

    const control_data *item = find_control(dialog, item_id);
    if (!item) return 0;
    edittext_data *edit = (edittext_data *)item->extra_data;
    if (!VASSERT(edit && edit->magic_cookie == EDITTEXT_MAGIC_COOKIE, "edit")) return 0;

    switch (verb)
    {
    case _control_click_verb:
    {
        const param_control_click_verb *p = (const param_control_click_verb *)parameter;
        if (!p || !p->action) return 0;
        return edittext_click(dialog, item_id, edit, p->action);
    }
    case _control_key_verb:
    {
        const param_control_key_verb *p = (const param_control_key_verb *)parameter;
        // A hidden field, or one disabled while it had the focus, takes no keys.
        if (!p || !p->action || (item->flags & _control_does_not_respond_flag)) return 0;
        const bool handled = handle_edittext_action(edit, p->action);
        if (edit->key_listener) edit->key_listener(dialog, item_id, p->action, edit->key_listener_context);
        edit->user_refcon = (intptr_t)machine_tick_count();
        return handled ? 1 : 0;
    }
    case _control_focus_verb:
    {
        const param_control_focus_verb *p = (const param_control_focus_verb *)parameter;
        if (!p) return 0;
        const int32_t length = (int32_t)strlen(edit->string);
        if (p->gaining_focus)
        {
            if (item->flags & _control_does_not_respond_flag) return 0;
            select_edit_text_range(edit, 0, length);
            return 1;
        }
        select_edit_text_range(edit, length, length);
        return 1;
    }
    case _control_draw_verb:
    {
        const param_control_draw_verb *p = (const param_control_draw_verb *)parameter;
        if (!p || !p->dialog_bitmap) return 0;
        const bool focused = (p->draw_flags & _control_draw_has_focus_flag) != 0;
        if (focused && (edit->flags & _draw_focus_box_flag))
        {
            rgb_color color;
            get_dialog_color(&color, _dialog_focus_box_color);
            rectangle2d box = item->bounds;
            inset_rectangle2d(&box, -4, -4);
            frame_rectangle_clipped(p->dialog_bitmap, &color, &box, nullptr, 32768,
                                    get_transparency_table(_transparency_normal));
            inset_rectangle2d(&box, 1, 1);
            frame_rectangle_clipped(p->dialog_bitmap, &color, &box, nullptr, 0, nullptr);
        }
        else if ((edit->flags & _no_shaded_background_flag) && !(edit->flags & _draw_focus_box_flag))
        {
            // A chat line draws neither its shade nor a focus box: a thin
            // frame still shows where to type.
            rgb_color color;
            get_dialog_color(&color, _dialog_edit_text_color);
            rectangle2d box = item->bounds;
            inset_rectangle2d(&box, -2, -2);
            frame_rectangle_clipped(p->dialog_bitmap, &color, &box, nullptr, 0, nullptr);
        }
        draw_edittext(edit, p->dialog_bitmap, focused);
        return 0;
    }
    case _control_idle_verb:
    {
        if (get_dialog_focus(dialog) != item_id || edit->selection_start != edit->selection_end) return 0;
        const bool visible = caret_phase_visible(edit);
        if (visible == ((edit->flags & _cursor_is_visible_flag) != 0)) return 0;
        set_edittext_flag(edit, _cursor_is_visible_flag, visible);
        return 1;
    }
    default: return default_control_handler(verb, dialog, item_id, parameter);
    }
}

// ---- dialog-level calls ----------------------------------------------------------------------

// The record of a field, quietly NULL when the item is missing or of another
// type (the calls that change a field are used on optional items).
static edittext_data *find_record(const dialog_data *dialog, int16_t item_id)
{
    const control_data *item = find_control(dialog, item_id);
    if (!item || !is_edittext_item(item)) return nullptr;
    edittext_data *edit = (edittext_data *)item->extra_data;
    return edit && edit->magic_cookie == EDITTEXT_MAGIC_COOKIE ? edit : nullptr;
}

void set_bitmap_dialog_edit_item_text(dialog_data *dialog, int16_t item_id, const char *text)
{
    edittext_data *edit = find_record(dialog, item_id);
    if (!edit) return;
    set_edittext_string(edit, text);
    set_dialog_item_dirty(dialog, item_id);
}

void get_bitmap_dialog_edit_item_text(const dialog_data *dialog, int16_t item_id, char *buffer, int32_t size)
{
    const edittext_data *edit = get_edittext_item_record(dialog, item_id);
    if (edit) get_edittext_string(edit, buffer, size);
}

void select_bitmap_dialog_edit_item_text(dialog_data *dialog, int16_t item_id, int32_t start, int32_t end)
{
    edittext_data *edit = get_edittext_item_record(dialog, item_id);
    if (!edit) return;
    select_edit_text_range(edit, start, end);
    set_dialog_item_dirty(dialog, item_id);
}

void set_bitmap_dialog_edit_item_maximum_length(dialog_data *dialog, int16_t item_id, int32_t length)
{
    edittext_data *edit = find_record(dialog, item_id);
    if (!edit) return;
    set_edittext_maximum_length(edit, length);
    // Cutting the text changes what is shown.
    set_dialog_item_dirty(dialog, item_id);
}

void set_edit_text_flag(dialog_data *dialog, int16_t item_id, int32_t flag, bool on)
{
    edittext_data *edit = find_record(dialog, item_id);
    if (!edit) return;
    set_edittext_flag(edit, flag, on);
    set_dialog_item_dirty(dialog, item_id);
}

void set_edit_text_text_format(dialog_data *dialog, int16_t item_id, int32_t text_flags, bool on)
{
    edittext_data *edit = find_record(dialog, item_id);
    if (!edit) return;
    if (on) edit->text_flags |= text_flags;
    else edit->text_flags &= ~text_flags;
}

void set_edit_text_placeholder_string(dialog_data *dialog, int16_t item_id, const char *text)
{
    edittext_data *edit = find_record(dialog, item_id);
    if (edit) edit->placeholder_string = text;
}

void set_edit_text_key_listener(dialog_data *dialog, int16_t item_id, edittext_key_listener_proc procedure,
                                void *context)
{
    edittext_data *edit = find_record(dialog, item_id);
    if (!edit) return;
    edit->key_listener = procedure;
    edit->key_listener_context = context;
}
