// Registration of the core control types.

#include "register_controls.h"

#include "bitmap_dialogs/bitmap_item_control.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/color_picker_control.h"
#include "bitmap_dialogs/double_arrow_control.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/password_edittext.h"
#include "bitmap_dialogs/popup_control.h"
#include "bitmap_dialogs/progress_bar_control.h"
#include "bitmap_dialogs/radio_control.h"
#include "bitmap_dialogs/slider_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_dialogs/status_bar_control.h"
#include "bitmap_dialogs/string_list_control.h"
#include "bitmap_dialogs/tabbed_button_control.h"

// The core types in their order of registration.  A type without a
// procedure is left out, and items of that type are skipped (with a log line)
// when a dialog loads.
static const struct
{
    file_tag tag;
    control_def_proc procedure;
} simple_controls[] = {
    {FOUR_CHARACTER_CODE('b', 'u', 't', 't'), button_control_def_proc}, // button
    {FOUR_CHARACTER_CODE('s', 't', 'a', 't'), static_text_control_def_proc}, // static text
    {FOUR_CHARACTER_CODE('b', 'i', 't', 'm'), bitmap_control_def_proc}, // bitmap item
    {FOUR_CHARACTER_CODE('r', 'a', 'd', 'i'), radio_button_control_def_proc}, // radio button
    {FOUR_CHARACTER_CODE('c', 'h', 'e', 'k'), checkbox_button_control_def_proc}, // checkbox
    {FOUR_CHARACTER_CODE('e', 'd', 'i', 't'), edittext_control_def_proc}, // edit text
    {FOUR_CHARACTER_CODE('l', 'i', 's', 't'), list_control_def_proc}, // list
    {FOUR_CHARACTER_CODE('p', 'o', 'p', 'u'), popup_control_def_proc}, // popup menu
    {FOUR_CHARACTER_CODE('s', 'l', 's', 't'), string_list_control_def_proc}, // string list
    {FOUR_CHARACTER_CODE('p', 'a', 's', 's'), password_control_def_proc}, // password edit text
    {FOUR_CHARACTER_CODE('c', 'o', 'l', 'r'), color_picker_control_handler}, // colour picker
    {FOUR_CHARACTER_CODE('p', 'r', 'o', 'g'), progress_bar_control_def_proc}, // progress bar
    {FOUR_CHARACTER_CODE('s', 'l', 'i', 'd'), slider_control_def_proc}, // slider
    {FOUR_CHARACTER_CODE('n', 'u', 'm', 'b'), double_arrow_control_def_proc}, // double arrow
    {FOUR_CHARACTER_CODE('t', 'a', 'b', 'c'), tabbed_button_control_def_proc}, // tabbed button
    {STATUS_BAR_CONTROL_TAG, status_bar_control_def_proc}, // lobby status bar
};

bool register_dialog_controls(void)
{
    bool result = true;
    for (const auto &entry : simple_controls)
    {
        if (!entry.procedure) continue;
        result = register_control_procedure(entry.tag, entry.procedure);
        if (!result) break;
    }
    return result;
}
