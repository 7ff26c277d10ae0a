// The password control: an edit-text control that shows a mask glyph.

#include "bitmap_dialogs/password_edittext.h"

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/bitmap_edittext.h"
#include "bitmap_dialogs/edittext_control.h"

intptr_t password_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    if (verb == _control_new_verb)
    {
        const param_control_new_verb *p = (const param_control_new_verb *)parameter;
        if (!p || !p->definition) return 0;
        // The record is masked from its creation: the item text never shows.
        file_control_data definition = *p->definition;
        definition.flags = (uint16_t)(definition.flags | _edittext_is_password_flag);
        param_control_new_verb masked = {&definition, p->text};
        return edittext_control_def_proc(verb, dialog, item_id, &masked);
    }
    return edittext_control_def_proc(verb, dialog, item_id, parameter);
}
