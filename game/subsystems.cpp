// Registration of every built subsystem.  A later subsystem adds its own
// registration call here, after the ones it builds on.

#include "selection.h"
#include "subsystems.h"

#include "damage.h"
#include "sniffing.h"
#include "local_projectiles.h"
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
#include "render/render_objects.h"
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

// The selection's table, whole: its members are the control bar's, the
// status bar's and the renderer's.
static const selection_procedures selection_table = {
    .update_inventory_buttons = update_inventory_buttons,
    .toggle_inventory = toggle_control_bar_inventory,
    .any_ingame_dialogs_open = any_ingame_dialogs_open,
    .new_local_sprite = new_selection_marker,
    .remove_local_sprites = remove_selection_markers,
};

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
    register_monster_visibility_hooks();
    register_monster_target_hooks();
    register_monster_update_hooks();
    register_monster_life_hooks();
    register_monster_owner_hooks();
    register_monster_placement_hooks();
    register_selection_hooks();
    register_selection_procedures(&selection_table);
    register_observer_hooks();
    register_camera_control_hooks();
    register_map_action_hooks();
    register_sniffing_hooks();
    register_status_bar_hooks();
    register_overhead_map_input_hooks();
    register_selection_interface_hooks();
    register_console_hooks();
    register_control_bar_hooks();
    register_ingame_bar_hooks();
    register_global_key_hooks();
    register_keybinding_dialog_hooks();
    register_saved_games_hooks();
    register_film_dialog_hooks();
    register_opengl_hooks();
    register_sound_hooks();
    register_front_end_hooks(ingame_dialog_front_end_procedures()); // the front end's table, whole
    register_ingame_dialog_hooks();
    register_network_transport_hooks();
    register_network_hooks();
    register_vesk_networking_hooks();
    register_story_hooks();
    register_metaserver_hooks();
}
