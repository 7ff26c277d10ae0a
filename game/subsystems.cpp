// Registration of every built subsystem.  A later subsystem adds its own
// registration call here, after the ones it builds on.

#include "selection.h"
#include "subsystems.h"

#include "damage.h"
#include "map_actions/flow_control_action_procs.h"
#include "map_actions/map_action_engine.h"
#include "map_actions/map_action_parameters.h"
#include "sniffing.h"
#include "local_projectiles.h"
#include "monster_initializers.h"
#include "monster_attacks.h"
#include "monster_visibility.h"
#include "monster_commands.h"
#include "monster_targets.h"
#include "monster_update.h"
#include "monster_inventory.h"
#include "monster_reactions.h"
#include "monster_life.h"
#include "monster_owners.h"
#include "monster_placement.h"
#include "monsters.h"
#include "input/action_queue.h"
#include "input/input_definitions.h"
#include "input/keyboard.h"
#include "map_actions/map_actions.h"
#include "map_actions/query_sound_suicide_action_procs.h"
#include "map_life.h"
#include "markers.h"
#include "mesh.h"
#include "projectiles.h"
#include "recording.h"
#include "shapes.h"
#include "bitmap_text.h"
#include "camera_control.h"
#include "observer.h"
#include "overhead_map.h"
#include "overhead_map_input.h"
#include "image_files.h"
#include "interface_definitions.h"
#include "status_bar.h"
#include "screen.h"
#include "unit_commands.h"
#include "vesk.h"
#include "bitmap_dialogs/bitmap_dialogs.h"
#include "render/render.h"
#include "detail_maps.h"
#include "main_menu.h"
#include "screenshots.h"
#include "ingame_fades.h"
#include "overhead_text.h"
#include "console/console.h"
#include "control_bar.h"
#include "global_keys.h"
#include "ingame_bars.h"
#include "keybinding_dialogs.h"
#include "saved_games.h"
#include "bitmap_dialogs/snapshot_control.h"
#include "film_dialogs.h"
#include "front_end_hooks.h"
#include "ingame_dialog_hooks.h"
#include "selection_interface_hooks.h"
#include "hardware/OpenGL/render_opengl.h"
#include "sound/sound_hooks.h"
#include "networking/network_transport_hooks.h"
#include "vesk_networking/network_hooks.h"
#include "story_hooks.h"
#include "vesk_networking/vesk_networking.h"
#include "metaserver/metaserver_dialogs.h"

// The observer's limited-visibility test asks where a view meets the ground:
// the overhead map's outline of the camera from the eye's ground point.
static bool overhead_map_view_corners(const world_point3d *eye, angle yaw, world_point2d corners[4])
{
    const world_point2d center = {eye->x, eye->y};
    get_overhead_map_view_projection_corners(&center, yaw, corners);
    return true;
}

// The tutorial watcher's verdicts go to the action that asked for them.
static void report_sniffing_to_map_action(int16_t action_identifier, bool succeeded)
{
    const int32_t action_index = action_identifier_to_action_index(action_identifier);
    if (action_index == NONE) return;
    if (succeeded) set_map_action_success(action_index);
    else set_map_action_error(action_index);
}

// The selection reads the current key bindings' set flags and mouse options
// as its own option bits.  The right click and the wheel each do one thing:
// the first of their flags, in the order the mouse options' selectors take
// them, wins.
static uint32_t selection_input_options_from_key_bindings(void)
{
    const input_definition_snapshot *bindings = get_input_definition_snapshot();
    if (!bindings) return 0;
    const uint32_t set = bindings->definition.flags;
    const uint32_t mouse = bindings->mouse_controls.flags;
    const bool attack = TEST_FLAG(mouse, _mouse_control_right_click_attack);
    const bool deselects = !attack && TEST_FLAG(set, _input_definition_right_button_deselects);
    const bool ignored = !attack && !deselects && TEST_FLAG(mouse, _mouse_control_right_click_ignored);
    int32_t wheel = _mouse_wheel_ignored;
    if (TEST_FLAG(mouse, _mouse_control_wheel_moves)) wheel = _mouse_wheel_move;
    else if (TEST_FLAG(mouse, _mouse_control_wheel_zooms)) wheel = _mouse_wheel_zoom;
    else if (TEST_FLAG(mouse, _mouse_control_wheel_cycle_presets)) wheel = _mouse_wheel_cycle_presets;
    else if (TEST_FLAG(mouse, _mouse_control_wheel_cycle_inventory)) wheel = _mouse_wheel_cycle_inventory;

    uint32_t options = 0;
    SET_FLAG(options, _selection_input_alternate_preset_recall_bit,
             TEST_FLAG(set, _input_definition_alternate_preset_recall));
    SET_FLAG(options, _selection_input_right_button_deselects_bit, deselects);
    SET_FLAG(options, _selection_input_tilde_ignores_inventory_bit,
             TEST_FLAG(set, _input_definition_tilde_ignores_inventory));
    SET_FLAG(options, _selection_input_control_bar_inventory_bit,
             TEST_FLAG(set, _input_definition_control_bar_inventory));
    SET_FLAG(options, _selection_input_right_click_attack_bit, attack);
    SET_FLAG(options, _selection_input_right_click_ignored_bit, ignored);
    SET_FLAG(options, _selection_input_left_click_gestures_disabled_bit,
             TEST_FLAG(mouse, _mouse_control_left_click_gestures_disabled));
    SET_FLAG(options, _selection_input_vux_actions_bit, TEST_FLAG(mouse, _mouse_control_vux_actions));
    SET_FLAG(options, _selection_input_wheel_cycle_presets_bit, wheel == _mouse_wheel_cycle_presets);
    SET_FLAG(options, _selection_input_wheel_cycle_inventory_bit, wheel == _mouse_wheel_cycle_inventory);
    return options;
}

void register_built_subsystems(void)
{
    register_game_core_hooks();
    register_mesh_hooks();
    register_world_and_player_hooks();
    register_object_world_hooks();
    register_command_hooks();
    register_action_queue_hooks();
    register_keyboard_hooks();
    register_input_definition_hooks();
    register_recording_hooks();
    register_shapes_hooks();
    register_bitmap_text_hooks();
    register_image_file_hooks();
    register_interface_definition_hooks();
    register_screen_hooks();
    register_dialog_hooks();
    register_render_hooks();
    register_detail_map_hooks();
    register_overhead_map_hooks();
    register_main_menu_hooks();
    register_screenshot_hooks();
    register_ingame_fade_hooks();
    register_overhead_text_hooks();
    register_damage_hooks();
    register_monster_hooks();
    register_monster_command_hooks();
    register_projectile_hooks();
    register_local_projectile_hooks();
    register_monster_initializers_export_procedures(get_monster_initializers_export_length,
                                                    export_monster_initializers_to_buffer);
    register_monster_initializers_import_procedures(import_monster_initializers, reset_monster_initializers);
    register_monster_visibility_hooks();
    register_monster_target_hooks();
    register_monster_update_hooks();
    register_monster_life_hooks();
    register_monster_owner_hooks();
    register_monster_placement_hooks();
    register_selection_hooks();
    register_selection_input_options_procedure(selection_input_options_from_key_bindings);
    register_observer_hooks();
    register_camera_control_hooks();
    register_map_action_hooks();
    register_sniffing_hooks();
    register_toggle_sniffing_procedure(toggle_sniffing);
    register_sniffing_report_procedure(report_sniffing_to_map_action);
    register_sound_listener_procedure(sound_listener_proc);
    register_status_bar_hooks();
    register_overhead_map_input_hooks();
    register_selection_interface_hooks();
    register_console_hooks();
    register_control_bar_hooks();
    register_ingame_bar_hooks();
    register_global_key_hooks();
    register_view_projection_corners_procedure(overhead_map_view_corners);
    register_keybinding_dialog_hooks();
    register_saved_games_hooks();
    register_render_saved_game_snapshot_procedure(render_saved_game_snapshot);
    register_cached_console_text_procedures(save_cached_console_text, restore_cached_console_text);
    register_read_save_game_snapshot_procedure(read_save_game_snapshot_picture);
    register_film_dialog_hooks();
    register_opengl_hooks();
    register_sound_hooks();
    register_front_end_hooks();
    register_ingame_dialog_hooks();
    register_network_transport_hooks();
    register_network_hooks();
    register_vesk_networking();
    register_story_hooks();
    register_metaserver_procedures();
}
