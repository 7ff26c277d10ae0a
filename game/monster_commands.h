#pragma once
// Unit commands: the order records, their builders and the executor's unit verbs.
//
// The selection and the map actions order units through the builders here.
// A builder encodes the order as a command (commands.h): the record, then
// the identifiers of the units (cut to the version's limit, units that do not
// exist left out), then the verb's waypoints, targets or text.  With the
// internal command identifier NONE the command is queued as an outgoing
// command and takes effect when it comes back stamped with a tick and a
// player; with any other value (a map action's identifier, its index, or -2)
// it is carried out at once on this machine, never queued, and the value is
// stored in each ordered unit's `internal_command_identifier`: map actions
// run on every machine in the same tick, so their orders need no command
// stream.  The value is kept as the caller gives it, even where a map action
// passes its index where its identifier is meant.
//
// What each verb does to the unit record, and every random draw, is in
// docs/determinism.md ("Orders"); the records are in docs/formats.md
// ("Unit commands").  Main thread only; execution runs inside the tick.

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "world.h"

enum
{
    MAXIMUM_UNITS_PER_COMMAND = 126,         // from gameplay version 1301
    MAXIMUM_UNITS_PER_COMMAND_BEFORE_1301 = 30,
    MAXIMUM_WAYPOINTS_PER_COMMAND = 4,
    MAXIMUM_PRESET_SELECTIONS = 16,
    // An internal command identifier that stands for no map action at all:
    // the order is carried out at once and nothing is reported when it ends.
    INTERNAL_COMMAND_IDENTIFIER_NO_ACTION = -2,
};

// The most units one command may name under the current gameplay version.
int32_t maximum_units_per_command(void);

// ---- the order records (big-endian on the wire; static_asserted) -----------------

enum command_movement_flag_bits
{
    _command_movement_loop_bit = 0,
    _command_movement_loop_back_and_forth_bit = 1,
    _command_movement_formation_bit = 3,
    _command_movement_final_facing_bit = 4,
    _command_movement_last_waypoint_is_centerpoint_bit = 6,

    _command_movement_loop_flag = FLAG(_command_movement_loop_bit),
    _command_movement_loop_back_and_forth_flag = FLAG(_command_movement_loop_back_and_forth_bit),
    _command_movement_formation_flag = FLAG(_command_movement_formation_bit),
    _command_movement_final_facing_flag = FLAG(_command_movement_final_facing_bit),
    _command_movement_last_waypoint_is_centerpoint_flag = FLAG(_command_movement_last_waypoint_is_centerpoint_bit),
};

struct command_movement_data
{
    uint16_t flags; // command_movement_flag_bits
    int16_t formation_index; // 0..9 with the formation flag
    angle final_facing; // with the final facing flag
    uint16_t pad; // 0
};
static_assert(sizeof(command_movement_data) == 8);
static_assert(offsetof(command_movement_data, formation_index) == 2);
static_assert(offsetof(command_movement_data, final_facing) == 4);
extern const byte_swap_code command_movement_data_byte_swapping_data[];

enum command_general_type
{
    _command_general_stop = 0,
    _command_general_scatter,
    _command_general_retreat,
    _command_general_special_ability,
    _command_general_guard, // stand ground
    _command_general_taunt,
    _command_general_celebrate,
    NUMBER_OF_COMMAND_GENERAL_TYPES // 7
};

struct command_general_data
{
    uint16_t flags; // 0
    int16_t type; // command_general_type
};
static_assert(sizeof(command_general_data) == 4);
static_assert(offsetof(command_general_data, type) == 2);
extern const byte_swap_code command_general_data_byte_swapping_data[];

enum command_target_flag_bits
{
    _command_target_close_bit = 0,
    _command_target_special_ability_bit = 1,
    _command_target_attack_closest_bit = 3,
    _command_target_dont_override_existing_target_bit = 4,
    _command_target_use_command_bit = 5,
    _command_target_attack_individual_bit = 7,
    _command_target_use_closest_attack_bit = 8,

    _command_target_close_flag = FLAG(_command_target_close_bit),
    _command_target_special_ability_flag = FLAG(_command_target_special_ability_bit),
    _command_target_attack_closest_flag = FLAG(_command_target_attack_closest_bit),
    _command_target_dont_override_existing_target_flag = FLAG(_command_target_dont_override_existing_target_bit),
    _command_target_use_command_flag = FLAG(_command_target_use_command_bit),
    _command_target_attack_individual_flag = FLAG(_command_target_attack_individual_bit),
    _command_target_use_closest_attack_flag = FLAG(_command_target_use_closest_attack_bit),
};

struct command_target_data
{
    uint16_t flags; // command_target_flag_bits
    uint16_t pad; // 0
};
static_assert(sizeof(command_target_data) == 4);
extern const byte_swap_code command_target_data_byte_swapping_data[];

enum command_attack_location_flags
{
    _command_attack_location_special_ability_flag = 0x1,
    _command_attack_location_ignore_model_collision_flag = 0x2,
    _command_attack_location_from_map_action_flag = 0x4,
};

struct command_attack_location_data
{
    uint16_t flags; // command_attack_location_flags
    uint16_t pad; // 0
    world_point3d point;
};
static_assert(sizeof(command_attack_location_data) == 16);
static_assert(offsetof(command_attack_location_data, point) == 4);
extern const byte_swap_code command_attack_location_data_byte_swapping_data[];

struct command_pick_up_data
{
    uint16_t flags; // 0
    uint16_t pad; // 0
    int16_t object_index;
    int16_t object_identifier;
};
static_assert(sizeof(command_pick_up_data) == 8);
static_assert(offsetof(command_pick_up_data, object_index) == 4);
static_assert(offsetof(command_pick_up_data, object_identifier) == 6);
extern const byte_swap_code command_pick_up_data_byte_swapping_data[];

struct command_rename_data
{
    uint16_t flags; // 0
    uint16_t pad; // 0
};
static_assert(sizeof(command_rename_data) == 4);
extern const byte_swap_code command_rename_data_byte_swapping_data[];

struct command_rotation_data
{
    uint16_t flags; // 0
    angle rotation_angle; // the units turn by minus this about `center`
    world_point2d center;
};
static_assert(sizeof(command_rotation_data) == 12);
static_assert(offsetof(command_rotation_data, rotation_angle) == 2);
static_assert(offsetof(command_rotation_data, center) == 4);
extern const byte_swap_code command_rotation_data_byte_swapping_data[];

struct command_detach_data
{
    uint16_t flags; // 0
    int16_t new_owner_player_index;
};
static_assert(sizeof(command_detach_data) == 4);
static_assert(offsetof(command_detach_data, new_owner_player_index) == 2);
extern const byte_swap_code command_detach_data_byte_swapping_data[];

enum command_chat_flags
{
    _command_chat_private_flag = 0x1, // to the sender's team only
};

struct command_chat_data
{
    uint16_t flags; // command_chat_flags
    uint16_t pad; // 0
};
static_assert(sizeof(command_chat_data) == 4);
extern const byte_swap_code command_chat_data_byte_swapping_data[];

struct command_ally_data
{
    uint16_t flags; // 0
    uint16_t pad; // 0
    int16_t team0; // the sender's team
    int16_t team1; // the team it allies itself with
};
static_assert(sizeof(command_ally_data) == 8);
static_assert(offsetof(command_ally_data, team0) == 4);
static_assert(offsetof(command_ally_data, team1) == 6);
extern const byte_swap_code command_ally_data_byte_swapping_data[];

struct command_preset_selection_data
{
    uint16_t flags; // preset_selection_command_flags
    int16_t preset_index; // 0..15; NONE in a selection report
};

enum preset_selection_command_flags
{
    // The command reports the sender's current selection (a local game from
    // FIRST_GAMEPLAY_VERSION_WITH_REPORTED_SELECTION): the film then holds
    // what the unit test's 'sele' reads.  Its preset is NONE, which earlier
    // builds skip.
    _preset_selection_reports_current_selection_flag = 1,
};

// From this gameplay version a local game reports its selection in the
// command stream, and the unit test's 'sele' reads the reports, not this
// machine's selection, so that films and saved games replay it.
enum
{
    FIRST_GAMEPLAY_VERSION_WITH_REPORTED_SELECTION = 1830,
    // From this version 'sele' counts in every game whose stream carries the
    // reports (game_carries_local_player_input), before the first report too:
    // until then the reported selection is empty, so a unit is not selected.
    FIRST_GAMEPLAY_VERSION_WITH_SELECTION_EMPTY_UNTIL_REPORTED = 1840,
};
static_assert(sizeof(command_preset_selection_data) == 4);
static_assert(offsetof(command_preset_selection_data, preset_index) == 2);
extern const byte_swap_code command_preset_selection_data_byte_swapping_data[];

// The inventory family (choose, drop, next, previous).
struct command_inventory_data
{
    int16_t type; // the item's type, -1 for nothing in hand
    int16_t number; // its entry in the inventory, -1 when absent
};
static_assert(sizeof(command_inventory_data) == 4);
static_assert(offsetof(command_inventory_data, number) == 2);
extern const byte_swap_code command_inventory_data_byte_swapping_data[];

// Unit identifiers and waypoints travel as arrays of these.
extern const byte_swap_code command_unit_identifier_byte_swapping_data[];
extern const byte_swap_code command_waypoint_byte_swapping_data[];

// ---- the builders -------------------------------------------------------------------
// Each returns true when the command was queued (NONE) or carried out (any
// other identifier); false when it could not be encoded or the outgoing ring
// was full (the order is lost, as a full ring loses it).  Unit lists are cut
// to maximum_units_per_command() and indexes of free slots are left out; a
// list may end up empty, which orders nobody.  Null records are refused.

bool handle_movement_command(int16_t internal_command_identifier, const command_movement_data *data,
                             int32_t unit_count, const int16_t *unit_indexes, int32_t waypoint_count,
                             const world_point2d *waypoints);
bool handle_target_command(int16_t internal_command_identifier, const command_target_data *data,
                           int32_t aggressor_count, const int16_t *aggressor_indexes, int32_t target_count,
                           const int16_t *target_indexes);
bool handle_general_command(int16_t internal_command_identifier, const command_general_data *data,
                            int32_t unit_count, const int16_t *unit_indexes);
bool handle_pick_up_command(int16_t internal_command_identifier, const command_pick_up_data *data,
                            int32_t unit_count, const int16_t *unit_indexes);
bool handle_attack_location_command(int16_t internal_command_identifier, const command_attack_location_data *data,
                                    int32_t unit_count, const int16_t *unit_indexes);
bool handle_rotation_command(int16_t internal_command_identifier, const command_rotation_data *data,
                             int32_t unit_count, const int16_t *unit_indexes);
bool handle_detach_command(int16_t internal_command_identifier, const command_detach_data *data, int32_t unit_count,
                           const int16_t *unit_indexes);
bool handle_inventory_command(int16_t internal_command_identifier, const command_inventory_data *data,
                              int32_t unit_count, const int16_t *unit_indexes);
bool handle_inventory_drop_command(int16_t internal_command_identifier, const command_inventory_data *data,
                                   int32_t unit_count, const int16_t *unit_indexes);
bool handle_inventory_next_command(int16_t internal_command_identifier, const command_inventory_data *data,
                                   int32_t unit_count, const int16_t *unit_indexes);
bool handle_inventory_prev_command(int16_t internal_command_identifier, const command_inventory_data *data,
                                   int32_t unit_count, const int16_t *unit_indexes);
// The name is cut to MAXIMUM_MONSTER_NAME_LENGTH characters.
bool handle_rename_command(int16_t internal_command_identifier, const command_rename_data *data, int32_t unit_count,
                           const int16_t *unit_indexes, const char *name);
bool handle_ally_command(int16_t internal_command_identifier, const command_ally_data *data);
// Always queued.  The text is cut to MAXIMUM_CHAT_MESSAGE_LENGTH characters.
bool queue_chat_command(const command_chat_data *data, const char *text);
// Always queued: the identifiers as given, cut to maximum_units_per_command().
bool queue_preset_selection_command(const command_preset_selection_data *data, int32_t unit_count,
                                    const int16_t *unit_identifiers);
// Queues the report of the local player's current selection (its unit
// identifiers, cut as above).
bool queue_selection_report_command(int32_t unit_count, const int16_t *unit_identifiers);

// Whether a selection report has run in this game (none in a network game,
// nor before the first report of a local one); forgotten with the map.
bool selection_report_received(void);
// Whether the game's command stream carries its local player's input (the
// selection reports, the tutorial watcher's verdicts): a single-player game,
// or a replay of one (a film, or a saved game being restored), whose film
// keeps its local player.  A network game's stream does not, nor a replay of
// one (a cooperative network film keeps its local player too; the films'
// replay_game_type, recording_procedures.h, tells it).
bool game_carries_local_player_input(void);
// Whether some player's latest report names the unit (a player may select
// units it does not own, to look at them).
bool monster_is_in_reported_selection(const struct monster_data *monster);

// Where each unit goes at each waypoint, as the executor sends it:
// `destinations[unit * waypoint_count + waypoint]`.  With the formation flag
// the formation's slots around each waypoint; otherwise the waypoint plus
// the unit's offset from the group's centre, clamped into the mesh.  The
// selection draws its markers from it.  `player_index` names who gives the
// order; the result does not depend on it.  Nothing is written for an empty
// list or an invalid formation.
void build_movement_command_destinations(const command_movement_data *data, int32_t player_index,
                                         const int16_t *unit_indexes, int32_t unit_count,
                                         const world_point2d *waypoints, int32_t waypoint_count,
                                         world_point2d *destinations);

// ---- registration points (later subsystems fill them) -----------------------------------

// A preset-selection command of the local player: the selection stores the
// units in its preset (index 0..15, at most 126 identifiers as sent).  Until
// filled nothing is stored.
typedef void (*preset_selection_procedure)(int32_t preset_index, int32_t count, const int16_t *unit_identifiers);
bool register_preset_selection_procedure(preset_selection_procedure procedure);

// A drop-player command in a network game also makes the network layer forget
// the player (networking_procedures.h, `forget_dropped_player`); until it
// registers, only the game's record is marked.

// A chat command goes to the console's table (console_procedures.h); until the
// console registers, the text goes to the log only.

// A detach command, decoded and checked (the sender, NONE for an order of a
// map action, may command each unit), gives the units to the new owner, a
// player of the game who has not dropped (detach_monster, monster_owners.h);
// an inventory command (verb _command_inventory, _drop, _next or _prev),
// checked the same way, goes to handle_monster_inventory_command
// (monster_inventory.h).  Both are direct calls: the units share this library.

// Registers the unit verbs with the command executor (game/subsystems.cpp).
void register_monster_command_hooks(void);
