// Registration of every built subsystem.  A later subsystem adds its own
// registration call here, after the ones it builds on.

#include "subsystems.h"

#include "damage.h"
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
#include "monsters.h"
#include "input/action_queue.h"
#include "map_life.h"
#include "markers.h"
#include "mesh.h"
#include "projectiles.h"
#include "recording.h"
#include "shapes.h"
#include "bitmap_text.h"
#include "unit_commands.h"
#include "vesk.h"

void register_built_subsystems(void)
{
    register_game_core_hooks();
    register_mesh_hooks();
    register_world_and_player_hooks();
    register_object_world_hooks();
    register_command_hooks();
    register_action_queue_hooks();
    register_recording_hooks();
    register_shapes_hooks();
    register_bitmap_text_hooks();
    register_damage_hooks();
    register_monster_hooks();
    register_monster_attack_hooks();
    register_monster_command_hooks();
    register_projectile_hooks();
    register_local_projectile_hooks();
    register_monster_initializers_export_procedures(get_monster_initializers_export_length,
                                                    export_monster_initializers_to_buffer);
    register_monster_initializers_import_procedures(import_monster_initializers, reset_monster_initializers);
    register_monster_visibility_hooks();
    register_monster_target_hooks();
    register_monster_update_hooks();
    register_monster_inventory_hooks();
    register_monster_reaction_hooks();
    register_monster_life_hooks();
    register_monster_owner_hooks();
}
