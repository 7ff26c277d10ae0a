#pragma once
// What the in-game interface asks of the selection: inventory, orders from the bars, names and pictures.
//
// The control bar's buttons, the status bar, the console menu and the
// inventory buttons call these directly.  Orders go through the builders of
// monster_commands.h with the internal command identifier NONE, like the
// selection's keys.  Local: nothing here is synchronized.  Main thread only.

#include <cstddef>
#include <cstdint>

#include "monster_definitions.h"
#include "world.h"

// The items every selected unit carries, rebuilt on demand.
struct selection_inventory_data
{
    const char *none_string; // label of the entry for carrying nothing
    int16_t projectile_type[MAXIMUM_ARTIFACTS_PER_MONSTER]; // multiset intersection, in the first unit's order
    int16_t unique_projectile_types[MAXIMUM_ARTIFACTS_PER_MONSTER]; // distinct types, by first appearance
    int16_t unique_type_counts[MAXIMUM_ARTIFACTS_PER_MONSTER];
    int16_t count;
    int16_t unique_count;
    int16_t selected_index; // entry the first unit has in hand; NONE
    int16_t selected_unique_index; // NONE
    int16_t monsters_included;
};

enum
{
    _monster_spelling_inventory_none_index = 2,
};

// ---- the inventory -------------------------------------------------------------------

// Rebuilds the record from the current selection; `for_dropping` skips the
// refusal of a wielded artifact that cannot be holstered.  False (and an
// empty record) when no common inventory exists.
bool build_selection_inventory(bool for_dropping);
const selection_inventory_data *get_selection_inventory(void);
// Rebuilt first when asked (false when the rebuilt inventory is empty):
// `unique_count` and `selected_unique_index`.
bool get_unique_selection_inventory(bool rebuild, int32_t *count, int32_t *selected);
// Wields (or, with `drop`, drops) the distinct type `unique_index` (-1: empty
// hands) for the selection.  An index at or past `unique_count`, a drop of
// nothing and a drop of an artifact that cannot be discarded send nothing.
void set_selection_inventory_unique(int32_t unique_index, bool drop);
// "%d. " when numbered, the check mark when asked, the item's name
// (`none_string` for -1), " (x%d)" for a counted entry of several.
void format_inventory_string(char *buffer, size_t size, int32_t unique_index, bool show_number, bool show_check,
                             bool show_count);

// ---- control-bar entry points (nothing unless the selection is usable) -------------

void stop_selected_units(void);
void scatter_selected_units(void);
// The retreat order (type 2), as the retreat key sends.
void retreat_selected_units(void);
void make_selected_units_hold_ground(void);
void make_selected_units_use_special_ability(void);
void selection_ally(void);
// As the chat key, `yell` standing for its shift.
void enable_chatting(bool yell);
void rename_current_selection(void);

// ---- queries ----------------------------------------------------------------------------

// True when the selection's dirty bit or any selected unit's display flags
// were set; both are cleared.
bool selection_changed(void);
// Every string query terminates its buffer within `size` (nothing for 0).
void get_selection_name_string(char *buffer, size_t size);
void get_selection_description_string(char *buffer, size_t size);
void get_selection_type_string(char *buffer, size_t size);
// The representative unit's collection, head-shot sequence and permutation;
// NONE, NONE and 0 when nothing is selected.  Collection references carry no
// colour sets of their own, so the replacement colours are always null.
void get_selection_portrait(int16_t *collection_index, int16_t *sequence_index, int16_t *permutation);
// One unit: its experience, battles survived and allegiance 0 (definitions
// carry none); else 0, 0, NONE.
void get_selection_experience(int16_t *experience, int16_t *battles_survived, int16_t *allegiance);
int16_t get_selection_random_seed(void);
// NONE collection when nothing is shown.
void get_selection_ammunition(int16_t *count, int16_t *collection_index, int16_t *sequence_index,
                              int16_t *color_table_index);
// NONE collection when nothing is shown; `charges` negative: a percentage.
void get_selection_item(int16_t *collection_index, int16_t *sequence_index, int16_t *color_table_index,
                        int16_t *charges);
// With `only_when_out_of_view`, nothing happens without a view or when the
// selection's mean position is already in it; otherwise the camera moves
// there, keeping its yaw.
void point_observer_at_current_selection(bool only_when_out_of_view);
// The attack highlight on the targets of the last target or pick-up order.
void highlight_target_selection(bool on);

// ---- what the queries ask of later subsystems ------------------------------------------

// The check mark text of the fonts (until filled: "*").
typedef const char *(*selection_check_mark_procedure)(void);
bool register_selection_check_mark_procedure(selection_check_mark_procedure procedure);
// Whether a view exists (false: none) and, in *in_view, whether the point lies
// in it.  Until filled: no view.
typedef bool (*selection_point_in_view_procedure)(const world_point3d *point, bool *in_view);
bool register_selection_point_in_view_procedure(selection_point_in_view_procedure procedure);
