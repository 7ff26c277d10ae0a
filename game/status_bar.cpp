// The status bar: the selection's name, status line and the pause, help and map buttons.
#include "status_bar.h"

cached_control_position_data status_bar_control_positions[NUMBER_OF_STATUS_BAR_CONTROL_POSITIONS];

void initialize_status_bar_for_new_map(void) {}
void initialize_status_bar_dialog(void) {}
void update_status_bar_for_new_resolution(void) {}
void dispose_status_bar_from_old_map(void) {}
void set_status_bar_visibility(bool) {}
int16_t status_bar_visible(rectangle2d *) { return 0; }
int16_t get_status_bar_height(void) { return 0; }
int32_t get_status_bar_collection_index(void) { return NONE; }
int32_t get_status_bar_exp_collection_index(void) { return NONE; }
dialog_data *get_status_bar_dialog(void) { return nullptr; }
bool is_status_bar(const dialog_data *) { return false; }
bool any_ingame_dialogs_open(void) { return false; }
bool push_pause_button(void) { return false; }
bool push_help_button(void) { return false; }
void push_overhead_map_button(int32_t) {}
bool status_bar_dialog_inhibitor_proc(dialog_data *, int16_t) { return true; }
void status_bar_dialog_handler_proc(dialog_data *, int16_t, action_data *) {}
void update_status_bar(void) {}
void register_status_bar_hooks(void) {}
bool register_quit_dialog_procedure(ingame_dialog_procedure) { return false; }
bool register_game_hints_dialog_procedure(ingame_dialog_procedure) { return false; }
bool register_status_bar_selection_procedures(selection_changed_procedure, selection_status_procedure) { return false; }
bool register_status_bar_selection_click_procedure(selection_click_procedure) { return false; }
