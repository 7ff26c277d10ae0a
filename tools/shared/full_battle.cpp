#include "full_battle.h"

#include <algorithm>

#include "commands.h"
#include "determinism_harness.h"
#include "game_time.h"
#include "mesh.h"
#include "monster_commands.h"
#include "monster_life.h"
#include "monsters.h"
#include "tag_files/data.h"

int32_t count_living_units(void)
{
    int32_t count = 0;
    for (int32_t index = 0; index < get_monster_array()->count; ++index)
        if (get_monster_data(index)) ++count;
    return count;
}

bool fill_full_battle(full_battle *b, int32_t total, std::string *reason)
{
    static const tag kinds[2][2] = {{FOUR_CHARACTER_CODE('w', 'a', '0', '1'), FOUR_CHARACTER_CODE('a', 'r', '0', '1')},
                                    {FOUR_CHARACTER_CODE('w', 'a', '0', '2'), FOUR_CHARACTER_CODE('a', 'r', '0', '2')}};
    *b = full_battle();
    for (int32_t index = 0; index < get_monster_array()->count; ++index)
        if (const monster_data *m = get_monster_data(index))
            if (m->owner_player_index == 0 || m->owner_player_index == 1)
                b->sides[m->owner_player_index].push_back((int16_t)index);
    bool made = true;
    for (int16_t side = 0; made && side < 2; ++side)
        for (int32_t row = 0, placed = 0; made && row < 20; ++row)
            for (int32_t column = 0; column < 10; ++column, ++placed)
            {
                if (count_living_units() >= total || (side == 0 && placed >= total / 2)) break;
                world_location3d location = {};
                location.position.x = (world_distance)(side ? 11000 + column * 200 : 3200 + column * 200);
                location.position.y = (world_distance)(5600 + row * 180);
                const world_point2d where = {location.position.x, location.position.y};
                location.position.z = get_mesh_height(&where, _mesh_surface_height);
                location.yaw = side ? 0x8000 : 0;
                const int32_t unit = new_monster_at_location(kinds[side][column & 1], &location, side, 0, 0);
                if (unit == NONE)
                {
                    made = false;
                    break;
                }
                b->sides[side].push_back((int16_t)unit);
            }
    if (made && count_living_units() == total) return true;
    *reason = "only " + std::to_string(count_living_units()) + " units could be made";
    return false;
}

void order_full_battle_attack(int32_t tick, void *context)
{
    full_battle *b = (full_battle *)context;
    if (b->ordered) return;
    b->ordered = true;
    queue_local_commands(game_->target_time, local_player_index);
    for (int16_t side = 0; side < 2; ++side)
    {
        std::vector<int16_t> &units = b->sides[side];
        const std::vector<int16_t> &enemies = b->sides[1 - side];
        for (size_t first = 0; first < units.size(); first += MAXIMUM_UNITS_PER_COMMAND)
        {
            const int32_t count = (int32_t)std::min<size_t>(MAXIMUM_UNITS_PER_COMMAND, units.size() - first);
            const size_t from = first % enemies.size();
            const int32_t target_count = (int32_t)std::min<size_t>(MAXIMUM_UNITS_PER_COMMAND, enemies.size() - from);
            const command_target_data data = {0, 0};
            handle_target_command(NONE, &data, count, &units[first], target_count, &enemies[from]);
            queue_outgoing_commands_as_player(tick, side);
        }
    }
}

static full_battle the_battle;

bool start_full_battle(uint32_t seed, std::string *reason)
{
    char text[512] = "";
    if (!start_simulation(nullptr, FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'), seed, text, sizeof(text)))
    {
        *reason = text;
        return false;
    }
    // The map's own units come first: one tick places them.
    run_simulation(1, nullptr, 0, nullptr, nullptr);
    if (!fill_full_battle(&the_battle, MAXIMUM_MONSTERS_PER_MAP, reason))
    {
        stop_simulation();
        return false;
    }
    set_simulation_tick_procedure(order_full_battle_attack, &the_battle);
    return true;
}

void stop_full_battle(void)
{
    set_simulation_tick_procedure(nullptr, nullptr);
    stop_simulation();
}
