// Random unit commands of every verb, as a damaged film or a hostile peer
// could send them, run by the executor on a small world with units of two
// players (and some built for a map action and run at once): nothing may be
// read outside a command, a table or the unit array, a unit of another team
// must never take a player's order, and every unit must stay sound.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "commands.h"
#include "game_records.h"
#include "game_time.h"
#include "mesh.h"
#include "mesh_builder.h"
#include "monster_commands.h"
#include "monster_lists.h"
#include "monsters.h"
#include "object_definitions.h"
#include "objects.h"
#include "players.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "unit_commands.h"

namespace {

enum
{
    UNITS_PER_PLAYER = 6,
    PLAYERS = 3, // players 0 and 2 on team 0, player 1 on team 1
};

// The fuzzer's bytes, read front to back; zeros once they run out.
struct byte_reader
{
    const uint8_t *data;
    size_t size, at;
    uint8_t byte(void) { return at < size ? data[at++] : 0; }
    int16_t word(void) { return (int16_t)((byte() << 8) | byte()); }
    int32_t number(void) { return (int32_t)(((uint32_t)word() << 16) | (uint16_t)word()); }
};

bool start_world(void)
{
    std::vector<mesh_cell> cells(16 * 16);
    for (mesh_cell &cell : cells) cell = {0, 0, 0, NONE, NONE, 0};
    mesh_builder_input input;
    memset(&input, 0, sizeof(input));
    input.header.mesh_width = 16;
    input.header.mesh_height = 16;
    input.header.team_count = 2;
    input.header.reverb_environment = NONE;
    input.cells = cells.data();
    int32_t size = 0;
    uint8_t *mesh = build_mesh_tag_data(&input, &size);
    if (!mesh) return false;
    initialize_mesh();
    const bool loaded = load_mesh_from_memory(mesh, size);
    free(mesh);
    if (!loaded || !initialize_object_definitions() || !initialize_objects() || !initialize_monsters() ||
        !initialize_commands())
        return false;
    new_game_data data;
    get_default_new_game_data(&data, _game_type_local, FOUR_CHARACTER_CODE('f', 'u', 'z', 'z'));
    data.player_count = PLAYERS;
    data.local_player_index = 0;
    for (int16_t i = 0; i < PLAYERS; ++i)
    {
        data.players[i].team_index = i == 1 ? 1 : 0;
        data.players[i].unique_identifier = i + 1;
        data.players[i].team_captain_identifier = i == 1 ? 2 : 1;
    }
    initialize_players();
    begin_game_time(&data);
    local_player_index = 0;
    initialize_players_for_new_map(&data);
    register_command_hooks();
    register_monster_command_hooks();
    return true;
}

// Fresh units each run, so that one input always does the same.
void place_units(std::vector<int16_t> *identifiers)
{
    initialize_objects_for_new_map();
    initialize_monsters_for_new_map();
    identifiers->clear();
    for (int32_t i = 0; i < UNITS_PER_PLAYER * 2; ++i)
    {
        new_object_data request;
        memset(&request, 0, sizeof(request));
        request.type = NONE;
        request.scale = 256;
        request.owner = _object_is_monster;
        request.location.position = {512 + 600 * (i % 6), 512 + 3000 * (i / 6), 0};
        request.collection_index = NONE;
        const int32_t object = new_object(&request);
        const int32_t index = new_datum(get_monster_array());
        monster_data *monster = get_monster_data(index);
        if (!monster || object == NONE) abort();
        get_object(object)->owner_index = (int16_t)index;
        monster->object_index = (int16_t)object;
        monster->type = NONE;
        monster->owner_player_index = (int8_t)(i < UNITS_PER_PLAYER ? 0 : 1);
        monster->owner_team_index = (int8_t)(i < UNITS_PER_PLAYER ? 0 : 1);
        monster->target_monster_index = monster->deferred_target_index = monster->aggressor_monster_index = NONE;
        monster->carrying_object_index = monster->artifact_index = monster->path_index = NONE;
        monster->internal_command_identifier = NONE;
        monster->marker_index = monster->map_action_index = NONE;
        monster->action = _monster_action_idle;
        if (i == 3) monster->flags |= _monster_ignores_user_commands_flag;
        identifiers->push_back(monster->identifier);
    }
}

// A list of unit identifiers: mostly the world's, sometimes anything.
void encode_identifiers(command_codec_state *state, byte_reader *in, const std::vector<int16_t> &identifiers)
{
    const uint8_t shape = in->byte();
    int16_t count = (int16_t)(shape & 15);
    if (shape & 0x80) count = (int16_t)(in->byte() + 100); // around the limits
    std::vector<int16_t> list((size_t)count);
    for (int16_t &entry : list)
    {
        const uint8_t pick = in->byte();
        entry = pick < 200 ? identifiers[pick % identifiers.size()] : in->word();
    }
    command_encode_array(state, count, 2, list.data(), command_unit_identifier_byte_swapping_data);
}

// The user-command flags of player 1's units.
uint32_t other_team_order_flags(void)
{
    uint32_t flags = 0;
    for (int32_t index = UNITS_PER_PLAYER; index < UNITS_PER_PLAYER * 2; ++index)
    {
        const monster_data *monster = get_monster_data(index);
        if (monster) flags |= monster->flags & _monster_has_received_user_command_flag;
    }
    return flags;
}

void check_units(void)
{
    for (int32_t index = 0; index < get_monster_array()->count; ++index)
    {
        const monster_data *monster = get_monster_data(index);
        if (!monster) continue;
        if (monster->waypoint_count < 0 || monster->waypoint_count > MAXIMUM_WAYPOINTS_PER_MONSTER) abort();
        for (int32_t w = 0; w < monster->waypoint_count; ++w)
            if (monster->waypoints[w].x < 0 || monster->waypoints[w].y < 0 ||
                monster->waypoints[w].x >= 16 * WORLD_ONE || monster->waypoints[w].y >= 16 * WORLD_ONE)
                abort();
        if (monster->target_monster_index != NONE && !get_monster_data(monster->target_monster_index)) abort();
        if (monster->name[MAXIMUM_MONSTER_NAME_LENGTH] != 0) abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool ready = start_world();
    if (!ready) return 0;
    static std::vector<int16_t> identifiers;
    place_units(&identifiers);
    initialize_commands_for_new_map();
    game_->game_time = 0;
    byte_reader in = {data, size, 0};
    static const int16_t verbs[] = {_command_general,   _command_movement,       _command_target,
                                    _command_attack_location, _command_pick_up,  _command_rename,
                                    _command_rotation,  _command_drop_player,    _command_chat,
                                    _command_detach,    _command_ally,           _command_preset_selection,
                                    _command_inventory, _command_inventory_drop, _command_inventory_prev,
                                    _command_inventory_next};
    alignas(8) static uint8_t buffer[MAXIMUM_COMMAND_SIZE];
    for (int32_t commands = 0; commands < 8 && in.at < in.size; ++commands)
    {
        const uint8_t head = in.byte();
        const int16_t verb = verbs[(head & 0x7F) % (sizeof(verbs) / sizeof(verbs[0]))];
        command_codec_state state;
        command_encode_new(&state, buffer, verb);
        // The record: random bytes of a plausible size (the executor converts them itself).
        uint8_t record[16];
        for (uint8_t &byte : record) byte = in.byte();
        static const int16_t record_sizes[] = {0, 0, 4, 8, 4, 16, 8, 4, 12, 0, 4, 4, 0, 0, 8, 4, 0, 4, 4, 4, 4};
        const int16_t record_size = verb < (int16_t)(sizeof(record_sizes) / 2) ? record_sizes[verb] : 4;
        static const byte_swap_code words_2[] = {_begin_bs_array, 2, _2byte, _end_bs_array};
        static const byte_swap_code words_4[] = {_begin_bs_array, 4, _2byte, _end_bs_array};
        static const byte_swap_code words_6[] = {_begin_bs_array, 6, _2byte, _end_bs_array};
        static const byte_swap_code words_8[] = {_begin_bs_array, 8, _2byte, _end_bs_array};
        static const byte_swap_code *const words[] = {nullptr, words_2, words_4, words_6, words_8};
        if (record_size > 0) command_encode_data(&state, record_size, record, words[record_size / 4]);
        const uint8_t shape = in.byte();
        if (verb != _command_drop_player && verb != _command_ally && verb != _command_chat)
            encode_identifiers(&state, &in, identifiers);
        if (verb == _command_target) encode_identifiers(&state, &in, identifiers);
        if (verb == _command_movement)
        {
            const int16_t count = (int16_t)((shape & 0x40) ? -1 : (shape & 7));
            std::vector<world_point2d> points((size_t)(count > 0 ? count : 0));
            for (world_point2d &point : points) point = {in.number(), in.number()};
            if (count >= 0)
                command_encode_array(&state, count, 8, points.data(), command_waypoint_byte_swapping_data);
            else
                command_encode_data(&state, 2, "\xFF\xFF", command_unit_identifier_byte_swapping_data);
        }
        if (verb == _command_rename || verb == _command_chat)
        {
            char text[256];
            const int32_t length = in.byte();
            for (int32_t i = 0; i < length; ++i) text[i] = (char)(in.byte() | 1);
            text[length] = 0;
            command_encode_string(&state, text, 255);
        }
        if (state.failed) continue;
        if (shape & 0x20) state.header->size = (int16_t)(state.header->size - (shape & 0x1F)); // cut short
        if (state.header->size < MINIMUM_COMMAND_SIZE) continue;
        state.header->player_index = (int8_t)(in.byte() % (PLAYERS + 2));
        if (state.header->player_index == PLAYERS + 1) state.header->player_index = -1;
        state.header->time = 0;
        const bool as_player_zero = state.header->player_index == 0;
        const uint32_t before = other_team_order_flags();
        if (head & 0x80)
        {
            // Built for a map action and run at once: the builders' own path.
            const int16_t units[] = {0, 1, 7, 8};
            const command_general_data general = {0, (int16_t)(in.byte() % 9)};
            handle_general_command(-2, &general, 4, units);
            const world_point2d points[2] = {{in.number(), in.number()}, {in.number(), in.number()}};
            const command_movement_data movement = {(uint16_t)in.word(), in.word(), (angle)in.word(), 0};
            handle_movement_command(5, &movement, 4, units, in.byte() % 3, points);
        }
        else if (queue_incoming_command(state.header))
            execute_monster_commands();
        // A player's command never orders the other team's units.
        if (as_player_zero && !(head & 0x80) && other_team_order_flags() != before) abort();
        check_units();
    }
    return 0;
}
