// Radio buttons: buttons with the radio art that lock once on.

#include "bitmap_dialogs/radio_control.h"

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/button_control.h"

intptr_t radio_button_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    const intptr_t result = button_control_def_proc(verb, dialog, item_id, parameter);
    if (verb == _control_new_completion_verb)
        apply_button_control_style(dialog, item_id, _button_control_draw_side_by_side_flag | _button_control_locks_flag,
                                   _dialog_elements_radio_button_sequence, _dialog_radio_text_color);
    return result;
}

void set_radio_button_state(dialog_data *dialog, int16_t item_id, bool on)
{
    set_button_control_state(dialog, item_id, on ? 1 : 0);
}

bool get_radio_button_state(const dialog_data *dialog, int16_t item_id)
{
    return get_checkbox_state(dialog, item_id);
}

void set_radio_button_family(dialog_data *dialog, int16_t first_item, int16_t chosen_item, int16_t last_item)
{
    for (int32_t item = first_item; item <= last_item; ++item)
        set_button_control_state(dialog, (int16_t)item, item == chosen_item ? 1 : 0);
}
