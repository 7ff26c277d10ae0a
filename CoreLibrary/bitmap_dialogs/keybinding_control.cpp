// Capturing a key for a binding.

#include "bitmap_dialogs/keybinding_control.h"

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/bitmap_edittext.h"
#include "bitmap_dialogs/edittext_control.h"
#include "cseries/log.h"
#include "input/action_queue.h"
#include "input/input_definitions.h"
#include "vesk/string_lists.h"

static edittext_data *get_field(const dialog_data *dialog, int16_t item_id)
{
    const control_data *item = find_control_of_type(dialog, item_id, keybinding_control_def_proc);
    if (!VASSERT(item != nullptr, "no key-binding item")) return nullptr;
    edittext_data *edit = (edittext_data *)item->extra_data;
    if (!VASSERT(item->handler == keybinding_control_def_proc && edit && edit->magic_cookie == EDITTEXT_MAGIC_COOKIE,
                 "not a key-binding field"))
        return nullptr;
    return edit;
}

// The key's name; "" for a code the list does not name.
static const char *key_name(const dialog_data *dialog, int16_t item_id, int16_t key_code)
{
    const char *name = get_key_string(get_dialog_item_refcon(dialog, item_id), key_code);
    return name ? name : "";
}

void set_keybinding_control_key(dialog_data *dialog, int16_t item_id, int16_t key_code)
{
    if (!get_field(dialog, item_id)) return;
    set_bitmap_dialog_edit_item_text(dialog, item_id, key_name(dialog, item_id, key_code));
}

intptr_t keybinding_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_completion_verb:
    {
        const int32_t list_index = string_list_tag_to_string_index(INTERNAL_KEY_NAMES_TAG);
        VASSERT(list_index != NONE, "the key-name list 'inkn' is missing");
        set_dialog_item_refcon(dialog, item_id, list_index);
        return 0;
    }
    case _control_click_verb:
    {
        const param_control_click_verb *p = (const param_control_click_verb *)parameter;
        edittext_data *edit = get_field(dialog, item_id);
        if (!edit || !p || !p->action) return 0;
        if (TEST_FLAG(p->action->flags[_left_mouse_down_bit / 32], _left_mouse_down_bit % 32))
        {
            set_dialog_focus(dialog, item_id);
            set_edittext_last_click_meaning(edit, _meant_focus);
        }
        else
        {
            set_edittext_last_click_meaning(edit, _meant_nothing);
        }
        return 0;
    }
    case _control_key_verb:
    {
        const param_control_key_verb *p = (const param_control_key_verb *)parameter;
        const control_data *item = find_control(dialog, item_id);
        if (!get_field(dialog, item_id) || !p || !p->action || (item->flags & _control_does_not_respond_flag))
            return 0;
        set_bitmap_dialog_edit_item_text(dialog, item_id, key_name(dialog, item_id, p->action->key_code));
        handle_tab(dialog, true);
        return 1;
    }
    default: return edittext_control_def_proc(verb, dialog, item_id, parameter);
    }
}
