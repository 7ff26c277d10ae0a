// The data tool's "objects" command.  See object_tags.h.

#include "object_tags.h"
#include "tool_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "collection_references.h"
#include "cseries/byte_swapping.h"
#include "cseries/tags.h"
#include "geometry.h"
#include "local_projectile_groups.h"
#include "model_animations.h"
#include "models.h"
#include "monster_definitions.h"
#include "object_definitions.h"
#include "particles.h"
#include "projectile_definitions.h"
#include "scenery.h"
#include "unit_definitions.h"
#include "tag_files/tag_file_formats.h"

namespace {

// Far more than the largest geometry's source needs.
const size_t MAXIMUM_OBJECT_SOURCE_SIZE = 16 * MEG;

// The statements of the source at `path`, comments dropped.  Lines are taken
// whole, however long.  False after the refusal line when it cannot be read.
bool object_read_source(const char *path, std::vector<source_line> *lines)
{
    return tool_read_source(path, MAXIMUM_OBJECT_SOURCE_SIZE, lines);
}

bool object_number(const std::string &text, int64_t minimum, int64_t maximum, int64_t *value)
{
    return tool_parse_number(text.c_str(), minimum, maximum, value);
}

bool code(const std::string &text, tag *value)
{
    return tool_parse_code(text.c_str(), true, value);
}

// Reads the numbers words[first..] into `values`; false when one is not a 16-bit number.
bool object_numbers(const source_line &line, size_t first, size_t count, int64_t *values, int64_t minimum = -32768,
             int64_t maximum = 65535)
{
    if (line.words.size() != first + count) return false;
    for (size_t i = 0; i < count; ++i)
        if (!object_number(line.words[first + i], minimum, maximum, &values[i])) return false;
    return true;
}

bool parse_object(const source_line &line, object_definition *d)
{
    const std::string &key = line.words[0];
    int64_t v[2];
    if (key == "modifier")
    {
        if (!object_numbers(line, 1, 2, v) || v[0] < 0 || v[0] >= NUMBER_OF_EFFECT_MODIFIERS) return false;
        d->effect_modifiers[v[0]] = (short_fixed)v[1];
        return true;
    }
    if (key == "flags") return object_numbers(line, 1, 1, v, 0, 0x7FFFFFFF) && ((d->flags = (uint32_t)v[0]), true);
    if (!object_numbers(line, 1, 1, v)) return false;
    if (key == "radius") d->radius = (int16_t)v[0];
    else if (key == "height") d->height = (int16_t)v[0];
    else if (key == "vitality") d->maximum_vitality = (short_fixed)v[0];
    else if (key == "gravity") d->gravity = (int16_t)v[0];
    else if (key == "elasticity") d->elasticity = (fixed_fraction)v[0];
    else if (key == "scale") d->scale_lower_bound = (short_fixed)v[0];
    else if (key == "scale_delta") d->scale_delta = (short_fixed)v[0];
    else if (key == "terminal_velocity") d->terminal_velocity = (int16_t)v[0];
    else return false;
    return true;
}

bool parse_reference(const source_line &line, collection_reference_definition *d)
{
    int64_t v;
    if (line.words[0] == "collection") return line.words.size() == 2 && code(line.words[1], &d->collection_tag);
    if (line.words[0] == "permutation" && object_numbers(line, 1, 1, &v) &&
        d->number_of_permutations < MAXIMUM_COLLECTION_REFERENCE_PERMUTATIONS)
    {
        d->color_table_indexes[d->number_of_permutations++] = (int16_t)v;
        return true;
    }
    // The team colours a copy takes when its player brings none.
    int64_t rgb[3];
    uint16_t *color = line.words[0] == "primary_color"     ? d->primary_color
                      : line.words[0] == "secondary_color" ? d->secondary_color
                                                           : nullptr;
    if (color && object_numbers(line, 1, 3, rgb, 0, 65535))
    {
        for (int i = 0; i < 3; ++i) color[i] = (uint16_t)rgb[i];
        color[3] = 0;
        return true;
    }
    return false;
}

bool parse_scenery(const source_line &line, scenery_definition *d)
{
    const std::string &key = line.words[0];
    int64_t v;
    if (key == "collection") return line.words.size() == 2 && code(line.words[1], &d->collection_tag);
    if (key == "object") return line.words.size() == 2 && code(line.words[1], &d->object_tag);
    if (key == "flags") return object_numbers(line, 1, 1, &v, 0, 0x7FFFFFFF) && ((d->flags = (uint32_t)v), true);
    if (!object_numbers(line, 1, 1, &v)) return false;
    if (key == "sequence") d->sequence_index = (int16_t)v;
    else if (key == "ticks_per_frame") d->ticks_per_frame = (int16_t)v;
    else if (key == "color_table") d->color_table_index = (int16_t)v;
    else return false;
    return true;
}

struct geometry_source
{
    world_point3d center = {0, 0, 0};
    std::vector<geometry_material> materials;
    std::vector<world_point3d> vertices;
    std::vector<geometry_surface> surfaces;
};

bool parse_geometry(const source_line &line, geometry_source *g)
{
    const std::string &key = line.words[0];
    int64_t v[5];
    if (key == "center" && object_numbers(line, 1, 3, v, -1000000, 1000000))
        g->center = {(int32_t)v[0], (int32_t)v[1], (int32_t)v[2]};
    else if (key == "material" && object_numbers(line, 1, 1, v)) g->materials.push_back({(int16_t)v[0], NONE, NONE, NONE});
    else if (key == "vertex" && object_numbers(line, 1, 3, v, -1000000, 1000000))
        g->vertices.push_back({(int32_t)v[0], (int32_t)v[1], (int32_t)v[2]});
    else if (key == "surface")
    {
        // MATERIAL V0 V1 V2 [FLAGS] [texture C0 R0 C1 R1 C2 R2]
        source_line head = line;
        int64_t texture[6] = {0, 0, 0, 0, 0, 0};
        const size_t clause = std::find(line.words.begin(), line.words.end(), "texture") - line.words.begin();
        if (clause < line.words.size())
        {
            source_line tail = line;
            tail.words.erase(tail.words.begin(), tail.words.begin() + (ptrdiff_t)clause);
            if (!object_numbers(tail, 1, 6, texture, 0, 65535)) return false;
            head.words.resize(clause);
        }
        if (!object_numbers(head, 1, 4, v, 0, 32767) && !object_numbers(head, 1, 5, v, 0, 32767)) return false;
        if (v[0] >= (int64_t)g->materials.size()) return false;
        geometry_surface surface;
        memset(&surface, 0, sizeof(surface));
        surface.material_index = (int16_t)v[0];
        surface.flags = head.words.size() == 6 ? (uint16_t)v[4] : 0;
        surface.dependency_table_index = NONE;
        world_point3d p[3];
        for (int c = 0; c < 3; ++c)
        {
            if (v[1 + c] >= (int64_t)g->vertices.size()) return false;
            p[c] = g->vertices[(size_t)v[1 + c]];
        }
        // The source gives the corners counter-clockwise seen from the front;
        // they are stored the other way round, as they run on the screen when
        // the front is seen.  A corner's first interpolant picks the texture's
        // row, its second the column.
        static const int stored_corner[3] = {0, 2, 1};
        for (int c = 0; c < 3; ++c)
        {
            const int from = stored_corner[c];
            surface.corners[c].vertex_index = (int16_t)v[1 + from];
            surface.corners[c].interpolants[0] = (int16_t)(uint16_t)texture[2 * from + 1];
            surface.corners[c].interpolants[1] = (int16_t)(uint16_t)texture[2 * from];
        }
        const int64_t ux = p[1].x - p[0].x, uy = p[1].y - p[0].y, uz = p[1].z - p[0].z;
        const int64_t vx = p[2].x - p[0].x, vy = p[2].y - p[0].y, vz = p[2].z - p[0].z;
        const int64_t nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
        const int64_t length = isqrt64((uint64_t)(nx * nx + ny * ny + nz * nz));
        if (length == 0) return false;
        surface.normal = {(int16_t)(nx * 16384 / length), (int16_t)(ny * 16384 / length), (int16_t)(nz * 16384 / length)};
        surface.d = (world_distance)(((int64_t)surface.normal.i * p[0].x + (int64_t)surface.normal.j * p[0].y +
                                      (int64_t)surface.normal.k * p[0].z) >> 14);
        g->surfaces.push_back(surface);
    }
    else return false;
    return true;
}

bool parse_model(const source_line &line, model_definition *d)
{
    const std::string &key = line.words[0];
    int64_t v;
    if (key == "geometry") return line.words.size() == 2 && code(line.words[1], &d->geometry_tag);
    if (key == "collection") return line.words.size() == 2 && code(line.words[1], &d->collection_tag);
    if (key == "flags") return object_numbers(line, 1, 1, &v, 0, 0x7FFFFFFF) && ((d->flags = (uint32_t)v), true);
    if (key == "color_table") return object_numbers(line, 1, 1, &v) && ((d->color_table_index = (int16_t)v), true);
    if (key == "permutation" && line.words.size() >= 3 && line.words.size() <= 3 + MODEL_PERMUTATION_MATERIALS &&
        d->model_permutation_count < MAXIMUM_MODEL_PERMUTATIONS)
    {
        model_permutation *p = &d->model_permutations[d->model_permutation_count];
        if (!code(line.words[1], &p->collection_tag) || !object_number(line.words[2], -32768, 32767, &v)) return false;
        p->color_table_index = (int16_t)v;
        for (size_t i = 3; i < line.words.size(); ++i)
        {
            if (!object_number(line.words[i], 0, 255, &v)) return false;
            p->permutations[i - 3] = (uint8_t)v;
        }
        d->model_permutation_count += 1;
        return true;
    }
    return false;
}

bool parse_animation(const source_line &line, model_animation_definition *d)
{
    const std::string &key = line.words[0];
    int64_t v;
    if (key == "frame" && line.words.size() == 2 && d->number_of_frames < MAXIMUM_MODEL_ANIMATION_FRAMES)
        return code(line.words[1], &d->frame_model_tags[d->number_of_frames++]);
    if (key == "flags") return object_numbers(line, 1, 1, &v, 0, 7) && ((d->flags = (uint32_t)v), true);
    if (!object_numbers(line, 1, 1, &v)) return false;
    if (key == "ticks_per_frame") d->ticks_per_frame = (int16_t)v;
    else if (key == "forward_sound") d->forward_sound_type = (int16_t)v;
    else if (key == "backward_sound") d->backward_sound_type = (int16_t)v;
    else return false;
    return true;
}

// ---- the unit and projectile groups: one table of fields per record

enum field_kind
{
    _field_u32,
    _field_tag,
    _field_i16,
    _field_u16,
    _field_i8,
    _field_u8,
};

struct field_spec
{
    const char *key;
    size_t offset;
    field_kind kind;
    int32_t count; // 1: `key VALUE`; more: `key INDEX VALUE`
};

#define FIELD(type, member, kind) {#member, offsetof(type, member), kind, 1}

const field_spec attack_fields[] = {
    FIELD(monster_attack_definition, flags, _field_u16),
    FIELD(monster_attack_definition, extra_flags, _field_u16),
    {"projectile", offsetof(monster_attack_definition, projectile_tag), _field_tag, 1},
    FIELD(monster_attack_definition, miss_fraction, _field_u16),
    FIELD(monster_attack_definition, minimum_range, _field_i16),
    FIELD(monster_attack_definition, maximum_range, _field_i16),
    FIELD(monster_attack_definition, repetitions, _field_i16),
    FIELD(monster_attack_definition, initial_velocity_lower_bound, _field_i16),
    FIELD(monster_attack_definition, initial_velocity_delta, _field_i16),
    FIELD(monster_attack_definition, initial_velocity_error, _field_i16),
    FIELD(monster_attack_definition, recovery_time, _field_i16),
    FIELD(monster_attack_definition, recovery_time_experience_delta, _field_i16),
    FIELD(monster_attack_definition, velocity_improvement_with_experience, _field_i16),
    FIELD(monster_attack_definition, mana_cost, _field_i16),
    {"sequence_flags", offsetof(monster_attack_definition, sequences), _field_u16, -NUMBER_OF_MONSTER_ATTACK_SEQUENCES},
    {"sequence", offsetof(monster_attack_definition, sequences) + 2, _field_i16, -NUMBER_OF_MONSTER_ATTACK_SEQUENCES},
};

const field_spec unit_fields[] = {
    {"monster", offsetof(unit_definition, monster_tag), _field_tag, 1},
    {"collection_reference", offsetof(unit_definition, collection_reference_tag), _field_tag, 1},
};

const field_spec monster_fields[] = {
    FIELD(monster_definition, flags, _field_u32),
    FIELD(monster_definition, hack_flags, _field_u32),
    FIELD(monster_definition, more_hack_flags, _field_u32),
    FIELD(monster_definition, extra_flags, _field_u32),
    {"collection", offsetof(monster_definition, collection_tag), _field_tag, 1},
    FIELD(monster_definition, monster_class, _field_i16),
    FIELD(monster_definition, size, _field_i16),
    FIELD(monster_definition, pathfinding_radius, _field_i16),
    FIELD(monster_definition, visibility_type, _field_i16),
    FIELD(monster_definition, terrain_impassability_flags, _field_u16),
    FIELD(monster_definition, turning_speed, _field_u16),
    FIELD(monster_definition, base_movement_speed, _field_i16),
    FIELD(monster_definition, warning_distance, _field_i16),
    FIELD(monster_definition, critical_distance, _field_i16),
    FIELD(monster_definition, activation_distance, _field_i16),
    FIELD(monster_definition, healing_fraction, _field_u16),
    FIELD(monster_definition, left_handed_fraction, _field_u16),
    FIELD(monster_definition, absorbed_fraction, _field_u16),
    FIELD(monster_definition, flinch_system_shock, _field_u16),
    FIELD(monster_definition, propelled_system_shock, _field_u16),
    FIELD(monster_definition, hard_death_system_shock, _field_u16),
    FIELD(monster_definition, berserk_system_shock, _field_u16),
    FIELD(monster_definition, berserk_vitality, _field_i16),
    FIELD(monster_definition, damage_to_propulsion, _field_i16),
    FIELD(monster_definition, experience_point_value, _field_i16),
    FIELD(monster_definition, initial_ammunition_lower_bound, _field_i16),
    FIELD(monster_definition, initial_ammunition_delta, _field_i16),
    FIELD(monster_definition, maximum_ammunition_count, _field_i16),
    FIELD(monster_definition, maximum_mana, _field_i16),
    FIELD(monster_definition, mana_recharge_rate, _field_i16),
    FIELD(monster_definition, maximum_artifacts_carried, _field_i16),
    FIELD(monster_definition, number_of_attacks, _field_i16),
    FIELD(monster_definition, desired_projectile_volume, _field_i16),
    FIELD(monster_definition, attack_frequency_lower_bound, _field_i16),
    FIELD(monster_definition, attack_frequency_delta, _field_i16),
    FIELD(monster_definition, use_attack_frequency, _field_i16),
    FIELD(monster_definition, longest_range, _field_i16),
    FIELD(monster_definition, next_name_string_index, _field_i16),
    {"sequence", offsetof(monster_definition, sequence_indexes), _field_i16, NUMBER_OF_MONSTER_SEQUENCES},
    {"terrain_cost", offsetof(monster_definition, terrain_costs), _field_i8, NUMBER_OF_MONSTER_TERRAIN_COSTS},
    {"movement_modifier", offsetof(monster_definition, movement_modifiers), _field_u8, NUMBER_OF_MONSTER_TERRAIN_COSTS},
    {"sound_type", offsetof(monster_definition, sound_types), _field_i16, NUMBER_OF_MONSTER_DEFINITION_SOUNDS},
    {"sound", offsetof(monster_definition, sound_tags), _field_tag, NUMBER_OF_MONSTER_DEFINITION_SOUNDS},
    {"names", offsetof(monster_definition, names_string_list_tag), _field_tag, 1},
    {"spellings", offsetof(monster_definition, spelling_string_list_tag), _field_tag, 1},
    {"ammunition_projectile", offsetof(monster_definition, ammunition_projectile_tag), _field_tag, 1},
    {"entrance_group", offsetof(monster_definition, entrance_projectile_group_tag), _field_tag, 1},
    {"exit_group", offsetof(monster_definition, exit_projectile_group_tag), _field_tag, 1},
    {"melee_impact_group", offsetof(monster_definition, melee_impact_projectile_group_tag), _field_tag, 1},
    {"blocked_impact_group", offsetof(monster_definition, blocked_impact_projectile_group_tag), _field_tag, 1},
    {"absorbed_impact_group", offsetof(monster_definition, absorbed_impact_projectile_group_tag), _field_tag, 1},
    {"burning_death_group", offsetof(monster_definition, burning_death_projectile_group_tag), _field_tag, 1},
    {"dying_group", offsetof(monster_definition, dying_projectile_group_tag), _field_tag, 1},
    {"exploding_group", offsetof(monster_definition, exploding_projectile_group_tag), _field_tag, 1},
    {"local_group", offsetof(monster_definition, local_projectile_group_tag), _field_tag, 1},
    {"object", offsetof(monster_definition, object_tag), _field_tag, 1},
    {"map_action", offsetof(monster_definition, map_action_tag), _field_tag, 1},
    {"initial_artifacts_group", offsetof(monster_definition, initial_artifacts_projectile_group_tag), _field_tag, 1},
    FIELD(monster_definition, combined_power, _field_i16),
    {"special_ability_prompts", offsetof(monster_definition, special_ability_string_list_tag), _field_tag, 1},
};

const field_spec artifact_fields[] = {
    FIELD(artifact_definition, flags, _field_u32),
    {"monster_restriction", offsetof(artifact_definition, monster_restriction_tag), _field_tag, 1},
    {"override", offsetof(artifact_definition, override_tag), _field_tag, 1},
    FIELD(artifact_definition, maximum_charges, _field_i16),
    FIELD(artifact_definition, initial_charges_lower_bound, _field_i16),
    FIELD(artifact_definition, initial_charges_delta, _field_i16),
    FIELD(artifact_definition, expiry_timer, _field_i16),
    {"bonus_modifier", offsetof(artifact_definition, bonus_effect_modifiers), _field_i16, NUMBER_OF_MONSTER_EFFECT_MODIFIERS},
    {"projectile", offsetof(artifact_definition, projectile_tags), _field_tag, NUMBER_OF_ARTIFACT_PROJECTILE_TYPES},
    {"special_ability_prompts", offsetof(artifact_definition, special_ability_string_list_tag), _field_tag, 1},
};

const field_spec projectile_fields[] = {
    FIELD(projectile_definition, flags, _field_u32),
    {"collection", offsetof(projectile_definition, collection_tag), _field_tag, 1},
    {"sequence", offsetof(projectile_definition, sequence_indexes), _field_i16, NUMBER_OF_PROJECTILE_SEQUENCES},
    FIELD(projectile_definition, splash_or_rebound_effect_type, _field_i16),
    {"detonation_group", offsetof(projectile_definition, detonation_projectile_group_tag), _field_tag, 1},
    {"contrail", offsetof(projectile_definition, contrail_projectile_tag), _field_tag, 1},
    FIELD(projectile_definition, ticks_between_contrails, _field_i16),
    FIELD(projectile_definition, maximum_contrail_count, _field_i16),
    {"object", offsetof(projectile_definition, object_tag), _field_tag, 1},
    FIELD(projectile_definition, inertia_lower_bound, _field_i16),
    FIELD(projectile_definition, inertia_delta, _field_i16),
    FIELD(projectile_definition, random_initial_velocity, _field_i16),
    FIELD(projectile_definition, volume, _field_i16),
    FIELD(projectile_definition, tracking_priority, _field_i16),
    FIELD(projectile_definition, promotion_on_detonation_fraction, _field_u16),
    FIELD(projectile_definition, detonation_frequency, _field_u16),
    FIELD(projectile_definition, media_detonation_frequency, _field_u16),
    FIELD(projectile_definition, detonation_velocity, _field_i16),
    FIELD(projectile_definition, projectile_class, _field_i16),
    {"lightning", offsetof(projectile_definition, lightning_tag), _field_tag, 1},
    {"sound", offsetof(projectile_definition, sound_tags), _field_tag, NUMBER_OF_PROJECTILE_SOUNDS},
    FIELD(projectile_definition, animation_rate_lower_bound, _field_i16),
    FIELD(projectile_definition, animation_rate_delta, _field_i16),
    FIELD(projectile_definition, lifespan_lower_bound, _field_i16),
    FIELD(projectile_definition, lifespan_delta, _field_i16),
    FIELD(projectile_definition, initial_contrail_frequency, _field_u16),
    FIELD(projectile_definition, final_contrail_frequency, _field_u16),
    FIELD(projectile_definition, contrail_frequency_delta, _field_u16),
    FIELD(projectile_definition, guided_turning_speed, _field_u16),
    {"promoted_projectile", offsetof(projectile_definition, promoted_projectile_tag), _field_tag, 1},
    {"promotion_group", offsetof(projectile_definition, promotion_projectile_group_tag), _field_tag, 1},
    FIELD(projectile_definition, maximum_safe_acceleration, _field_i16),
    FIELD(projectile_definition, acceleration_detonation_fraction, _field_u16),
    {"damage_type", offsetof(projectile_definition, damage) + offsetof(damage_definition, type), _field_i16, 1},
    {"damage_flags", offsetof(projectile_definition, damage) + offsetof(damage_definition, flags), _field_u16, 1},
    {"damage_lower_bound", offsetof(projectile_definition, damage) + offsetof(damage_definition, damage_lower_bound), _field_i16, 1},
    {"damage_delta", offsetof(projectile_definition, damage) + offsetof(damage_definition, damage_delta), _field_i16, 1},
    {"damage_radius_lower_bound", offsetof(projectile_definition, damage) + offsetof(damage_definition, radius_lower_bound), _field_i16, 1},
    {"damage_radius_delta", offsetof(projectile_definition, damage) + offsetof(damage_definition, radius_delta), _field_i16, 1},
    {"damage_rate_of_expansion", offsetof(projectile_definition, damage) + offsetof(damage_definition, rate_of_expansion), _field_i16, 1},
    {"damage_to_velocity", offsetof(projectile_definition, damage) + offsetof(damage_definition, damage_to_velocity), _field_i16, 1},
    {"artifact", offsetof(projectile_definition, artifact_tag), _field_tag, 1},
    {"target_detonation_group", offsetof(projectile_definition, target_detonation_projectile_group_tag), _field_tag, 1},
    {"geometry", offsetof(projectile_definition, geometry_tag), _field_tag, 1},
    FIELD(projectile_definition, delay_lower_bound, _field_i16),
    FIELD(projectile_definition, delay_delta, _field_i16),
    {"local_group", offsetof(projectile_definition, local_projectile_group_tag), _field_tag, 1},
    FIELD(projectile_definition, nearby_target_radius, _field_i16),
    FIELD(projectile_definition, exclude_nearby_target_radius, _field_i16),
    {"promotion_unit", offsetof(projectile_definition, promotion_unit_tag), _field_tag, 1},
    FIELD(projectile_definition, use_accel, _field_u8),
};

const field_spec projectile_group_fields[] = {
    FIELD(projectile_group_definition, mesh_effect_type, _field_i16),
    FIELD(projectile_group_definition, number_of_parts, _field_i16),
    {"sound", offsetof(projectile_group_definition, sound_tag), _field_tag, 1},
    {"local_group", offsetof(projectile_group_definition, local_projectile_group_tag), _field_tag, 1},
};

const field_spec part_fields[] = {
    FIELD(projectile_group_part, flags, _field_u32),
    {"projectile", offsetof(projectile_group_part, projectile_tag), _field_tag, 1},
    {"fail_projectile", offsetof(projectile_group_part, fail_projectile_tag), _field_tag, 1},
    FIELD(projectile_group_part, count_lower_bound, _field_i16),
    FIELD(projectile_group_part, count_delta, _field_i16),
    FIELD(projectile_group_part, appearing_fraction, _field_u16),
    FIELD(projectile_group_part, position_lower_bound, _field_i16),
    FIELD(projectile_group_part, position_delta, _field_i16),
};

const field_spec weather_fields[] = {
    FIELD(weather_definition, flags, _field_u16),
    FIELD(weather_definition, maximum_particles, _field_i16),
    FIELD(weather_definition, snowing_ticks, _field_i16),
    FIELD(weather_definition, clear_ticks, _field_i16),
    {"ambient_sound", offsetof(weather_definition, ambient_sound_tag), _field_tag, 1},
    FIELD(weather_definition, wind_direction, _field_u16),
    FIELD(weather_definition, wind_speed, _field_i16),
    FIELD(weather_definition, wind_gust, _field_i16),
    FIELD(weather_definition, wind_gust_period, _field_i16),
    {"collection", offsetof(weather_definition, collection_tag), _field_tag, 1},
    {"sequence", offsetof(weather_definition, sequence_index), _field_i16, 1},
    {"splash_sequence", offsetof(weather_definition, splash_sequence_index), _field_i16, 1},
    FIELD(weather_definition, particle_scale, _field_i16),
    FIELD(weather_definition, fall_speed, _field_i16),
};

const field_spec local_group_fields[] = {
    FIELD(local_projectile_group_definition, flags, _field_u32),
    {"collection", offsetof(local_projectile_group_definition, collection_tag), _field_tag, 1},
    {"sequence", offsetof(local_projectile_group_definition, sequence_index), _field_i16, 1},
    {"color_table", offsetof(local_projectile_group_definition, color_table_index), _field_i16, 1},
    FIELD(local_projectile_group_definition, maximum_projectiles, _field_i16),
    FIELD(local_projectile_group_definition, emission_lower_bound, _field_i16),
    FIELD(local_projectile_group_definition, emission_delta, _field_i16),
    FIELD(local_projectile_group_definition, lifespan_lower_bound, _field_i16),
    FIELD(local_projectile_group_definition, lifespan_delta, _field_i16),
    FIELD(local_projectile_group_definition, radius, _field_i16),
    FIELD(local_projectile_group_definition, height, _field_i16),
    FIELD(local_projectile_group_definition, velocity_lower_bound, _field_i16),
    FIELD(local_projectile_group_definition, velocity_delta, _field_i16),
    FIELD(local_projectile_group_definition, gravity, _field_i16),
    FIELD(local_projectile_group_definition, scale_lower_bound, _field_i16),
    FIELD(local_projectile_group_definition, scale_delta, _field_i16),
    FIELD(local_projectile_group_definition, duration, _field_i16),
    FIELD(local_projectile_group_definition, transition_in, _field_i16),
    FIELD(local_projectile_group_definition, transition_out, _field_i16),
    FIELD(local_projectile_group_definition, animation_rate, _field_i16),
};

#undef FIELD

// Stores words[first..] per the matching field of `fields` into `record`
// (host order).  A negative count is an array of that many entries of four
// bytes' stride (the attack sequences).  False when no field matches or a
// value is out of its range.
template <size_t N>
bool parse_field(const source_line &line, size_t first, const field_spec (&fields)[N], uint8_t *record)
{
    if (line.words.size() <= first) return false;
    for (const field_spec &field : fields)
    {
        if (line.words[first] != field.key) continue;
        const int32_t count = field.count < 0 ? -field.count : field.count;
        const size_t stride = field.count < 0 ? 4 : 0;
        size_t at = first + 1;
        int64_t index = 0;
        if (count > 1 && (line.words.size() <= at || !object_number(line.words[at++], 0, count - 1, &index))) return false;
        if (line.words.size() != at + 1) return false;
        const std::string &text = line.words[at];
        int64_t value = 0;
        uint8_t *p = record + field.offset;
        switch (field.kind)
        {
        case _field_tag:
        {
            tag t;
            if (!code(text, &t)) return false;
            memcpy(p + index * 4, &t, 4);
            return true;
        }
        case _field_u32:
            if (!object_number(text, 0, 0xFFFFFFFFll, &value)) return false;
            {
                const uint32_t v = (uint32_t)value;
                memcpy(p + index * 4, &v, 4);
            }
            return true;
        case _field_i16:
        case _field_u16:
        {
            if (!object_number(text, field.kind == _field_i16 ? -32768 : 0, field.kind == _field_i16 ? 32767 : 65535, &value))
                return false;
            const uint16_t v = (uint16_t)value;
            memcpy(p + index * (stride ? stride : 2), &v, 2);
            return true;
        }
        case _field_i8:
        case _field_u8:
        {
            if (!object_number(text, field.kind == _field_i8 ? -128 : 0, field.kind == _field_i8 ? 127 : 255, &value))
                return false;
            p[index] = (uint8_t)value;
            return true;
        }
        }
    }
    return false;
}

// `attack INDEX FIELD ...` of a monster and `override_attack FIELD ...` of an artifact.
bool parse_monster(const source_line &line, monster_definition *d)
{
    int64_t index;
    if (line.words[0] == "attack")
        return line.words.size() > 2 && object_number(line.words[1], 0, MAXIMUM_ATTACKS_PER_MONSTER - 1, &index) &&
               parse_field(line, 2, attack_fields, (uint8_t *)&d->attacks[index]);
    return parse_field(line, 0, monster_fields, (uint8_t *)d);
}

bool parse_artifact(const source_line &line, artifact_definition *d)
{
    if (line.words[0] == "override_attack")
        return parse_field(line, 1, attack_fields, (uint8_t *)&d->override_attack);
    return parse_field(line, 0, artifact_fields, (uint8_t *)d);
}

// `part INDEX FIELD ...`; the part count follows the highest part named
// unless `number_of_parts` says otherwise.
bool parse_projectile_group(const source_line &line, projectile_group_definition *d, int16_t *parts_named)
{
    int64_t index;
    if (line.words[0] == "part")
    {
        if (line.words.size() <= 2 || !object_number(line.words[1], 0, MAXIMUM_PARTS_PER_PROJECTILE_GROUP - 1, &index))
            return false;
        if (*parts_named < index + 1) *parts_named = (int16_t)(index + 1);
        return parse_field(line, 2, part_fields, (uint8_t *)&d->parts[index]);
    }
    return parse_field(line, 0, projectile_group_fields, (uint8_t *)d);
}

// The run-time fields a tag stores as zero: the loader fills them.
void clear_runtime(monster_attack_definition *attack) { attack->projectile_type = 0; }

std::vector<uint8_t> swapped(const void *record, int32_t size, const byte_swap_code *codes)
{
    std::vector<uint8_t> bytes((const uint8_t *)record, (const uint8_t *)record + size);
    byte_swap_data("record", bytes.data(), size, 1, codes);
    return bytes;
}

int object_usage(void)
{
    fprintf(stderr, "usage: vesk_tags objects OUT --group obje|core|scen|geom|mode|mani|unit|mons|arti|proj|prgr|lpgr|weat "
                    "--subgroup S --name N SOURCE\n");
    return 2;
}

// The defaults of the object, collection reference, scenery, model and
// animation records before their source is read.
static void default_scenery_records(object_definition *object, collection_reference_definition *reference,
                                    scenery_definition *scenery, model_definition *model,
                                    model_animation_definition *animation)
{
    memset(object, 0, sizeof(*object));
    for (auto &modifier : object->effect_modifiers) modifier = SHORT_FIXED_ONE;
    object->scale_lower_bound = SHORT_FIXED_ONE;
    memset(reference, 0, sizeof(*reference));
    reference->collection_tag = NONE;
    reference->primary_color[3] = reference->secondary_color[3] = 4; // unused until named
    memset(scenery, 0, sizeof(*scenery));
    scenery->collection_tag = scenery->object_tag = NONE;
    memset(model, 0, sizeof(*model));
    model->geometry_tag = model->collection_tag = NONE;
    memset(animation, 0, sizeof(*animation));
    animation->ticks_per_frame = 1;
    animation->forward_sound_type = animation->backward_sound_type = NONE;
}

// A projectile group's tag bytes: the parts counted when the source did not
// say how many, the run-time fields cleared.
static std::vector<uint8_t> projectile_group_bytes(projectile_group_definition *projectile_group, bool parts_counted,
                                                   int16_t parts_named)
{
    if (!parts_counted) projectile_group->number_of_parts = parts_named;
    for (projectile_group_part &part : projectile_group->parts)
        part.projectile_type = part.fail_projectile_type = 0;
    const size_t runtime = offsetof(projectile_group_definition, sound_index);
    memset((uint8_t *)projectile_group + runtime, 0, sizeof(*projectile_group) - runtime);
    return swapped(projectile_group, sizeof(*projectile_group), projectile_group_definition_byte_swapping_data);
}

// The geometry's tag bytes, laid out from its source.  0, or the status of
// the refusal.
static int lay_out_geometry(const char *source, geometry_source *source_geometry, std::vector<uint8_t> *data)
{
    geometry_source &geometry = *source_geometry;
    geometry_definition g;
    memset(&g, 0, sizeof(g));
    g.center = geometry.center;
    g.vertex_count = (int16_t)geometry.vertices.size();
    g.surface_count = (int16_t)geometry.surfaces.size();
    g.material_count = (int16_t)geometry.materials.size();
    g.materials = geometry.materials.data();
    g.vertices = geometry.vertices.data();
    g.surfaces = geometry.surfaces.data();
    if (geometry.vertices.size() > MAXIMUM_GEOMETRY_VERTICES || geometry.surfaces.size() > MAXIMUM_GEOMETRY_SURFACES ||
        geometry.materials.size() > MAXIMUM_GEOMETRY_MATERIALS)
        return tool_refuse_line(source, 0, "more than 2048 vertices, 512 surfaces or 32 materials");
    int32_t size = 0;
    uint8_t *bytes = build_geometry_tag_data(&g, &size);
    if (!bytes) return tool_refuse_line(source, 0, "geometry cannot be laid out");
    data->assign(bytes, bytes + size);
    free(bytes);
    return 0;
}

} // namespace

int object_tags_command(int argc, char **argv)
{
    const char *out = argc > 2 ? argv[2] : nullptr, *name = nullptr, *source = nullptr;
    tag group = NONE, subgroup = NONE;
    for (int i = 3; i < argc; ++i)
    {
        const std::string option = argv[i];
        if (option == "--group" && i + 1 < argc) code(argv[++i], &group);
        else if (option == "--subgroup" && i + 1 < argc) code(argv[++i], &subgroup);
        else if (option == "--name" && i + 1 < argc) name = argv[++i];
        else if (!source && option[0] != '-') source = argv[i];
        else return object_usage();
    }
    if (!out || !name || !source || group == NONE || subgroup == NONE) return object_usage();
    if (!tag_name_is_valid(name)) return tool_refuse(name, "not a valid tag name");
    std::vector<source_line> lines;
    if (!object_read_source(source, &lines)) return 1;

    object_definition object;
    collection_reference_definition reference;
    scenery_definition scenery;
    model_definition model;
    model_animation_definition animation;
    default_scenery_records(&object, &reference, &scenery, &model, &animation);
    geometry_source geometry;
    unit_definition unit;
    default_unit_definition(&unit);
    monster_definition monster;
    default_monster_definition(&monster);
    artifact_definition artifact;
    default_artifact_definition(&artifact);
    projectile_definition projectile;
    default_projectile_definition(&projectile);
    projectile_group_definition projectile_group;
    default_projectile_group_definition(&projectile_group);
    int16_t parts_named = 0;
    bool parts_counted = false;
    local_projectile_group_definition local_group;
    default_local_projectile_group_definition(&local_group);
    weather_definition weather;
    memset(&weather, 0, sizeof(weather));
    weather.ambient_sound_tag = weather.collection_tag = NONE;
    weather.splash_sequence_index = NONE;
    weather.particle_scale = SHORT_FIXED_ONE;

    for (const source_line &line : lines)
    {
        bool ok = false;
        switch (group)
        {
        case OBJECT_DEFINITION_GROUP_TAG: ok = parse_object(line, &object); break;
        case COLLECTION_REFERENCE_GROUP_TAG: ok = parse_reference(line, &reference); break;
        case SCENERY_DEFINITION_GROUP_TAG: ok = parse_scenery(line, &scenery); break;
        case GEOMETRY_DEFINITION_GROUP_TAG: ok = parse_geometry(line, &geometry); break;
        case MODEL_DEFINITION_GROUP_TAG: ok = parse_model(line, &model); break;
        case MODEL_ANIMATION_DEFINITION_GROUP_TAG: ok = parse_animation(line, &animation); break;
        case UNIT_DEFINITION_GROUP_TAG: ok = parse_field(line, 0, unit_fields, (uint8_t *)&unit); break;
        case MONSTER_DEFINITION_GROUP_TAG: ok = parse_monster(line, &monster); break;
        case ARTIFACT_DEFINITION_GROUP_TAG: ok = parse_artifact(line, &artifact); break;
        case PROJECTILE_DEFINITION_GROUP_TAG: ok = parse_field(line, 0, projectile_fields, (uint8_t *)&projectile); break;
        case PROJECTILE_GROUP_DEFINITION_GROUP_TAG:
            ok = parse_projectile_group(line, &projectile_group, &parts_named);
            parts_counted = parts_counted || line.words[0] == "number_of_parts";
            break;
        case LOCAL_PROJECTILE_GROUP_DEFINITION_GROUP_TAG:
            ok = parse_field(line, 0, local_group_fields, (uint8_t *)&local_group);
            break;
        case WEATHER_DEFINITION_GROUP: ok = parse_field(line, 0, weather_fields, (uint8_t *)&weather); break;
        default: return object_usage();
        }
        if (!ok) return tool_refuse_line(source, line.number, "not understood, out of range, or one too many");
    }

    std::vector<uint8_t> data;
    int16_t version = 1;
    uint32_t user_data = 0;
    switch (group)
    {
    case UNIT_DEFINITION_GROUP_TAG:
        unit.player_index = 0;
        unit.parent_unit_tag = 0;
        unit.monster_type = unit.collection_reference_index = 0;
        data = swapped(&unit, sizeof(unit), unit_definition_byte_swapping_data);
        break;
    case MONSTER_DEFINITION_GROUP_TAG:
    {
        for (monster_attack_definition &attack : monster.attacks) clear_runtime(&attack);
        const size_t runtime = offsetof(monster_definition, collection_index);
        memset((uint8_t *)&monster + runtime, 0, sizeof(monster) - runtime);
        data = swapped(&monster, sizeof(monster), monster_definition_byte_swapping_data);
        version = MONSTER_DEFINITION_VERSION;
        break;
    }
    case ARTIFACT_DEFINITION_GROUP_TAG:
    {
        clear_runtime(&artifact.override_attack);
        const size_t runtime = offsetof(artifact_definition, special_ability_string_list_index);
        memset((uint8_t *)&artifact + runtime, 0, sizeof(artifact) - runtime);
        data = swapped(&artifact, sizeof(artifact), artifact_definition_byte_swapping_data);
        version = ARTIFACT_DEFINITION_VERSION;
        break;
    }
    case PROJECTILE_DEFINITION_GROUP_TAG:
    {
        const size_t runtime = offsetof(projectile_definition, local_projectile_group_type);
        memset((uint8_t *)&projectile + runtime, 0, sizeof(projectile) - runtime);
        user_data = get_projectile_definition_tag_header_user_data(&projectile);
        data = swapped(&projectile, sizeof(projectile), projectile_definition_byte_swapping_data);
        break;
    }
    case PROJECTILE_GROUP_DEFINITION_GROUP_TAG:
        data = projectile_group_bytes(&projectile_group, parts_counted, parts_named);
        break;
    case LOCAL_PROJECTILE_GROUP_DEFINITION_GROUP_TAG:
        local_group.collection_index = 0;
        data = swapped(&local_group, sizeof(local_group), local_projectile_group_definition_byte_swapping_data);
        break;
    case WEATHER_DEFINITION_GROUP:
        data = swapped(&weather, sizeof(weather), weather_definition_byte_swapping_data);
        version = WEATHER_DEFINITION_VERSION;
        break;
    case OBJECT_DEFINITION_GROUP_TAG:
        data = swapped(&object, sizeof(object), object_definition_byte_swapping_data);
        break;
    case COLLECTION_REFERENCE_GROUP_TAG:
        data = swapped(&reference, sizeof(reference), collection_reference_byte_swapping_data);
        break;
    case SCENERY_DEFINITION_GROUP_TAG:
        data = swapped(&scenery, sizeof(scenery), scenery_definition_byte_swapping_data);
        break;
    case MODEL_DEFINITION_GROUP_TAG:
        if (model.model_permutation_count == 0 || model.geometry_tag == NONE)
            return tool_refuse_line(source, 0, "a model needs its geometry and at least one permutation");
        data = swapped(&model, sizeof(model), model_definition_byte_swapping_data);
        break;
    case MODEL_ANIMATION_DEFINITION_GROUP_TAG:
        if (animation.number_of_frames == 0) return tool_refuse_line(source, 0, "an animation needs a frame");
        data = swapped(&animation, sizeof(animation), model_animation_definition_byte_swapping_data);
        break;
    case GEOMETRY_DEFINITION_GROUP_TAG:
        if (const int refused = lay_out_geometry(source, &geometry, &data)) return refused;
        break;
    default: return object_usage();
    }

    if (!tool_write_local_tag_file(out, group, subgroup, version, user_data, name, data.data(), (int32_t)data.size())) return 1;
    return 0;
}
