// Spatial groups: who may seed or join a group, growth through neighbouring
// cells and the version's size limit, the group's fields, supergroups (types
// never combine with their own, contact within 768, the 17th group a member
// without weight), the budget that ends a build at the same group whatever
// the pointer size, and obstructing_group.

#include "support/monster_test_world.h"

#include "support/expected_assertions.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

#include "cseries/tags.h"
#include "spatial_groups.h"

namespace spatial_groups_test_file {

namespace {

class spatial_groups_test : public monster_test_world
{
protected:
    void SetUp() override
    {
        monster_test_world::SetUp();
        ASSERT_TRUE(initialize_spatial_groups());
        initialize_spatial_groups_for_new_map();
    }

    // A monster definition of its own type; its index.
    int16_t store_type(const char *name, int16_t monster_class = _monster_class_melee, int16_t longest_range = 0)
    {
        monster_definition m;
        default_monster_definition(&m);
        m.collection_tag = COLLECTION_TAG;
        m.monster_class = monster_class;
        m.longest_range = longest_range;
        std::vector<uint8_t> bytes((uint8_t *)&m, (uint8_t *)&m + sizeof(m));
        EXPECT_TRUE(byte_swap_data(name, bytes.data(), (int32_t)bytes.size(), 1, monster_definition_byte_swapping_data));
        write_local_tag(MONSTER_DEFINITION_GROUP_TAG, name, MONSTER_DEFINITION_VERSION, bytes.data(),
                        (int32_t)bytes.size());
        const int32_t type = try_definition_tag_to_index(&monster_definitions, string_to_tag(name), true, 0);
        EXPECT_NE(type, NONE) << name;
        return (int16_t)type;
    }

    int32_t make_typed_unit(int16_t player, world_point2d at, int16_t type, angle yaw = 0)
    {
        const int32_t index = make_unit(player, at, yaw);
        unit(index)->type = type;
        return index;
    }

    static std::vector<spatial_group *> groups(void)
    {
        std::vector<spatial_group *> list;
        for (spatial_group *group = first_spatial_group(); group; group = group->next_group) list.push_back(group);
        return list;
    }
    static std::vector<spatial_supergroup *> supergroups(void)
    {
        std::vector<spatial_supergroup *> list;
        for (spatial_supergroup *s = first_spatial_supergroup(); s; s = s->next) list.push_back(s);
        return list;
    }
    static std::vector<int16_t> members(const spatial_group *group)
    {
        return std::vector<int16_t>(group->monster_indexes, group->monster_indexes + group->monster_count);
    }
    static const spatial_group *group_of(int32_t monster_index)
    {
        for (spatial_group *group : groups())
            for (int16_t member : members(group))
                if (member == monster_index) return group;
        return nullptr;
    }
};

TEST_F(spatial_groups_test, ambient_invisible_and_untargetable_units_belong_to_no_group)
{
    start_world();
    const int16_t ambient = store_type("ambi", _monster_class_ambient_life);
    const int32_t plain = make_unit(0, cell_centre(10, 10));
    const int32_t animal = make_typed_unit(0, cell_centre(30, 30), ambient);
    const int32_t hidden = make_unit(0, cell_centre(10, 11));
    body(hidden)->flags |= _object_is_invisible_flag;
    const int32_t untargetable = make_unit(0, cell_centre(11, 10));
    unit(untargetable)->extra_flags |= _monster_cannot_be_autotargeted_extra_flag;
    // Two more beside them that would be gathered if they could.
    const int32_t animal_neighbour = make_typed_unit(0, cell_centre(30, 31), ambient);

    build_spatial_groups();
    ASSERT_EQ(groups().size(), 1u);
    EXPECT_EQ(members(groups()[0]), std::vector<int16_t>{(int16_t)plain});
    for (const int32_t excluded : {animal, hidden, untargetable, animal_neighbour})
        EXPECT_EQ(group_of(excluded), nullptr) << excluded;
}

// Growth is through each member's 3 x 3 cells: units three cells apart are one
// group when members stand between them, two without; other teams and types
// never join.
TEST_F(spatial_groups_test, a_chain_of_members_joins_units_three_cells_apart)
{
    start_world();
    const int16_t other_type = store_type("mon2");
    const int32_t a = make_unit(0, cell_centre(10, 10));
    const int32_t b = make_unit(0, cell_centre(13, 10));
    const int32_t enemy = make_unit(1, cell_centre(10, 11));
    const int32_t stranger = make_typed_unit(0, cell_centre(11, 11), other_type);

    build_spatial_groups();
    EXPECT_NE(group_of(a), group_of(b)) << "nothing between them";
    EXPECT_EQ(members(group_of(enemy)), std::vector<int16_t>{(int16_t)enemy});
    EXPECT_EQ(members(group_of(stranger)), std::vector<int16_t>{(int16_t)stranger});

    const int32_t c = make_unit(0, cell_centre(11, 10));
    const int32_t d = make_unit(0, cell_centre(12, 10));
    build_spatial_groups();
    ASSERT_EQ(group_of(a), group_of(b));
    // Seed first, then in the order the scans met them.
    EXPECT_EQ(members(group_of(a)), (std::vector<int16_t>{(int16_t)a, (int16_t)c, (int16_t)d, (int16_t)b}));
}

// Members are gathered while the group holds fewer than 126 units (30 before
// 1301), tested between members: a line of 40 units one cell apart grows one
// unit per member.
TEST_F(spatial_groups_test, a_group_stops_gathering_at_30_units_before_1301_and_at_126_from_it)
{
    start_world();
    for (int32_t i = 0; i < 40; ++i) make_unit(0, cell_centre(2 + i, 20));
    for (const int32_t version : {1300, 1301})
    {
        current_gameplay_version = version;
        build_spatial_groups();
        std::vector<int32_t> sizes;
        for (spatial_group *group : groups()) sizes.push_back(group->monster_count);
        EXPECT_EQ(sizes, version == 1300 ? (std::vector<int32_t>{30, 10}) : (std::vector<int32_t>{40})) << version;
    }
}

TEST_F(spatial_groups_test, one_scan_may_take_a_group_past_its_limit)
{
    start_world(64, 64, 1300);
    for (int32_t i = 0; i < 40; ++i) make_unit(0, cell_centre(20, 20));
    build_spatial_groups();
    ASSERT_EQ(groups().size(), 1u);
    EXPECT_EQ(groups()[0]->monster_count, 40);
}

TEST_F(spatial_groups_test, a_groups_fields_come_from_its_members)
{
    start_world();
    const int16_t type = store_type("arch", _monster_class_missile, 3000);
    const int32_t a = make_typed_unit(0, {5120, 5120}, type, 0);
    const int32_t b = make_typed_unit(0, {5376, 5633}, type, 16384);
    body(a)->location.velocity = {10, -4, 0};
    body(b)->location.velocity = {3, 7, 0};

    build_spatial_groups();
    ASSERT_EQ(groups().size(), 1u);
    const spatial_group *group = groups()[0];
    EXPECT_EQ(group->flags, _spatial_group_in_supergroup) << "its own supergroup";
    EXPECT_EQ(group->team_index, 0);
    EXPECT_EQ(group->monster_type, type);
    EXPECT_EQ(group->monster_count, 2);
    EXPECT_EQ(group->center.x, 5248);
    EXPECT_EQ(group->center.y, 5376); // 10753 / 2, truncated
    EXPECT_EQ(group->radius, 257);
    EXPECT_EQ(group->facing, arctangent(16384, 16384));
    EXPECT_EQ(group->power, 2);
    EXPECT_EQ(group->range, 3000);
    EXPECT_EQ(group->velocity.i, 6); // 13 / 2
    EXPECT_EQ(group->velocity.j, 1); // 3 / 2
    EXPECT_EQ(group->attacker_power, 0);
    EXPECT_EQ(group->first_attacker, nullptr);
}

// Groups of one team combine when their types differ and some of their units
// stand within 768 (by max + min / 2); a type never combines with itself.
TEST_F(spatial_groups_test, supergroups_combine_other_types_in_contact_and_never_the_same_type)
{
    start_world();
    const int16_t archers = store_type("arch");
    // Same type, 513 apart but two cells apart: two groups, two supergroups.
    const int32_t a = make_unit(0, {10 * 512 + 511, 10 * 512 + 256});
    const int32_t b = make_unit(0, {12 * 512, 10 * 512 + 256});
    build_spatial_groups();
    ASSERT_EQ(groups().size(), 2u);
    EXPECT_NE(group_of(a)->owner_supergroup, group_of(b)->owner_supergroup);
    EXPECT_EQ(supergroups().size(), 2u);

    // Another type 700 from b: it joins b's supergroup.  Another 1200 away
    // (within the centres' reach, not in contact) stays apart.
    const int32_t near = make_typed_unit(0, {12 * 512 + 700, 10 * 512 + 256}, archers);
    const int32_t far = make_typed_unit(0, {12 * 512 - 1200, 20 * 512}, archers);
    build_spatial_groups();
    EXPECT_EQ(group_of(near)->owner_supergroup, group_of(b)->owner_supergroup);
    EXPECT_NE(group_of(far)->owner_supergroup, group_of(b)->owner_supergroup);
    const spatial_supergroup *joined = group_of(b)->owner_supergroup;
    EXPECT_EQ(joined->monster_count, 2);
    EXPECT_EQ(joined->power, 2);
    EXPECT_EQ(joined->monster_index, b) << "the first unit of its first group";
    EXPECT_EQ(joined->center.x, 12 * 512 + 350) << "weighted by power";
    EXPECT_EQ(joined->radius, 350);
}

TEST_F(spatial_groups_test, the_17th_group_of_a_supergroup_is_a_member_without_weight)
{
    start_world();
    std::vector<int32_t> units;
    for (int32_t i = 0; i < 18; ++i)
    {
        char name[8];
        snprintf(name, sizeof(name), "t%03d", (int)i);
        units.push_back(make_typed_unit(0, {10240 + 10 * i, 10240}, store_type(name)));
    }
    build_spatial_groups();
    ASSERT_EQ(groups().size(), 18u);
    ASSERT_EQ(supergroups().size(), 1u);
    const spatial_supergroup *s = supergroups()[0];
    for (const int32_t index : units) EXPECT_EQ(group_of(index)->owner_supergroup, s);
    EXPECT_EQ(s->monster_count, 16);
    EXPECT_EQ(s->power, 16);
    EXPECT_EQ(s->center.x, 10240 + 75) << "the mean of the first 16 only";
    EXPECT_EQ(s->radius, 75);
}

// 400 units three cells apart: 400 groups of one take 20000 budget bytes, so
// 143 supergroups of 32 fit and the 144th is refused, on every machine.
TEST_F(spatial_groups_test, the_budget_ends_supergroups_at_the_same_group_whatever_the_pointer_size)
{
    start_world();
    for (int32_t i = 0; i < MAXIMUM_MONSTERS_PER_MAP; ++i) make_unit(0, cell_centre(1 + 3 * (i % 20), 1 + 3 * (i / 20)));
    const size_t log_before = log_text().size();
    build_spatial_groups();
    EXPECT_EQ(groups().size(), 400u);
    EXPECT_EQ(supergroups().size(), 143u);
    EXPECT_EQ(spatial_groups_buffer_bytes_used(), 20000 + 143 * 32);
    EXPECT_NE(log_text().find("### spatial supergroups overflowed internal buffer", log_before), std::string::npos);
    EXPECT_EQ(log_text().find("### spatial groups overflowed", log_before), std::string::npos);

    // A rebuild starts from nothing.
    delete_monster(399, false);
    build_spatial_groups();
    EXPECT_EQ(groups().size(), 399u);
    EXPECT_EQ(supergroups().size(), 144u);
}

TEST_F(spatial_groups_test, the_square_stays_inside_a_mesh_narrower_than_three_cells)
{
    start_world(2, 2);
    const int32_t a = make_unit(0, cell_centre(0, 0));
    const int32_t b = make_unit(0, cell_centre(1, 1));
    {
        // The square holds the mesh's 4 cells and 5 outside it; the second
        // member's square is the same one, which is read once.
        expected_assertions expect(5, "cell>=mesh_cells");
        build_spatial_groups();
    }
    EXPECT_EQ(members(group_of(a)), (std::vector<int16_t>{(int16_t)a, (int16_t)b}));
}

// The target group stands at (20000, 10000); the origin at (10000, 10000).
// A melee group of the target's team half way obstructs; each condition
// broken in turn leaves nothing in the way.
TEST_F(spatial_groups_test, an_obstructing_group_is_enemy_melee_between_the_origin_and_the_target)
{
    start_world(64, 64, 1820, 3);
    const int16_t melee = store_type("mele", _monster_class_melee);
    const int16_t missile = store_type("miss", _monster_class_missile);
    const world_point2d origin = {10000, 10000};
    const int32_t target_unit = make_typed_unit(1, {20000, 10000}, missile);
    struct case_data
    {
        const char *name;
        int16_t player;
        world_point2d at;
        int16_t type;
        bool obstructs;
    } cases[] = {
        {"half way", 1, {15000, 10000}, melee, true},
        {"missile", 1, {15000, 10000}, missile, false},
        {"the friendly team", 0, {15000, 10000}, melee, false},
        {"beyond the target", 1, {25000, 10000}, melee, false},
        {"off to the side", 1, {15000, 16000}, melee, false},
        {"just inside the angle", 1, {15000, 12000}, melee, true},
    };
    for (const case_data &c : cases)
    {
        SCOPED_TRACE(c.name);
        const int32_t blocker = make_typed_unit(c.player, c.at, c.type);
        build_spatial_groups();
        const spatial_group *target = group_of(target_unit);
        const spatial_group *found = obstructing_group(&origin, target, 0);
        if (c.obstructs) EXPECT_EQ(found, group_of(blocker));
        else EXPECT_EQ(found, nullptr);
        EXPECT_EQ(obstructing_group(&origin, target, 1), nullptr) << "the target's own side";
        delete_monster(blocker, false);
    }
}

} // namespace

} // namespace spatial_groups_test_file
