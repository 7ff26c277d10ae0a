// The unit status line of the status bar.
#include "bitmap_dialogs/monster_status_control.h"

#include "bitmap_dialogs/bitmap_controls.h"

intptr_t monster_status_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    return default_control_handler(verb, dialog, item_id, parameter);
}
bool set_status_control_data(dialog_data *, int16_t, const status_control_data *) { return false; }
bool get_status_control_data(const dialog_data *, int16_t, status_control_data *) { return false; }
bool status_control_data_differ(const status_control_data *, const status_control_data *) { return false; }
void format_status_control_count(char *buffer, int32_t size, int32_t, bool) { if (buffer && size > 0) buffer[0] = 0; }
