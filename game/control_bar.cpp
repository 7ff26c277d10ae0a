// The control bar: the selection's orders and inventory buttons.
#include "control_bar.h"

mapping button_mapping[NUMBER_OF_CONTROL_BAR_BUTTONS] = {};

int32_t control_bar_button_type(int32_t, bool) { return 0; }
int32_t control_bar_width_needed(const control_bar_layout_input *, int32_t) { return 0; }
void layout_control_bar_buttons(const control_bar_layout_input *, control_bar_layout *) {}
void layout_inventory_buttons(int32_t, int32_t, inventory_button_layout *) {}
void initialize_control_bar_for_new_map(void) {}
void initialize_control_bar(void) {}
void dispose_control_bar_from_old_map(void) {}
void update_control_bar_for_new_resolution(void) {}
void set_control_bar_visibility(int32_t) {}
void toggle_control_bar_inventory(void) {}
void update_control_bar(void) {}
void control_bar_dialog_handler_proc(dialog_data *, int16_t, action_data *) {}
int16_t control_bar_visible(rectangle2d *) { return 0; }
bool is_control_bar(const dialog_data *) { return false; }
dialog_data *get_control_bar_dialog(void) { return nullptr; }
void rebuild_inventory_buttons(int32_t) {}
void update_inventory_buttons(void) {}
void register_control_bar_hooks(void) {}
bool register_control_bar_order_procedure(control_bar_order_procedure) { return false; }
bool register_selection_inventory_procedures(get_unique_selection_inventory_procedure, format_inventory_string_procedure) { return false; }
bool register_set_selection_inventory_procedure(set_selection_inventory_unique_procedure) { return false; }
