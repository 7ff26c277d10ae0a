// Media definitions: the record as the data tool writes it and the game reads
// it, the map start that resolves a mesh's media and its splash groups, and
// the refusals of a missing or corrupt media tag.

#include "tag_files/store_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "cseries/byte_swapping.h"
#include "media.h"
#include "mesh.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "support/test_mesh.h"

namespace media_test_file {

namespace {

using store_fixture::packed_tag;
namespace fs = std::filesystem;

const tag LAKE = FOUR_CHARACTER_CODE('l', 'a', 'k', 'e');
const tag SMALL_SPLASH = FOUR_CHARACTER_CODE('s', 'p', 'l', '0');
const tag FOOTSTEP_SPLASH = FOUR_CHARACTER_CODE('s', 'p', 'l', '6');

// A stand-in for the projectile groups the splashes name.
definition_globals make_projectile_groups(void)
{
    static const byte_swap_code codes[] = {_begin_bs_array, 1, _4byte, _end_bs_array};
    definition_globals g = {};
    strlcpy(g.name, "projectile group", sizeof(g.name));
    g.group = PROJECTILE_GROUP_DEFINITION_GROUP_TAG;
    g.current_version = 1;
    g.maximum_count = 8;
    g.size = 4;
    g.byte_swapping_data = codes;
    return g;
}

std::string mesh_naming(tag media)
{
    mesh_header header = test_mesh_header(4, 4);
    header.media_tag = media;
    header.preload_tag = NONE;
    const std::vector<uint8_t> bytes = test_mesh_bytes(header);
    EXPECT_FALSE(bytes.empty());
    return std::string(bytes.begin(), bytes.end());
}

class media_test : public store_fixture::store_test
{
protected:
    definition_globals projectile_groups = make_projectile_groups();
    std::string tool;

    void SetUp() override
    {
        store_test::SetUp();
        REQUIRE_DATA_TOOL(tool);
        ASSERT_TRUE(initialize_media());
        ASSERT_TRUE(initialize_definitions(&projectile_groups));
        initialize_mesh();
    }
    void TearDown() override
    {
        dispose_mesh_from_old_map();
        dispose_media_from_old_map();
        dispose_definitions();
        store_test::TearDown();
    }
    // The data of the tag the tool makes from `source`; empty when it refuses.
    std::string tool_media(const std::string &source)
    {
        fs::remove("media.tag");
        if (!write_whole_file("media.txt", source.data(), source.size())) return "";
        if (run_data_tool("media media.tag --subgroup lake --name lake media.txt") != 0) return "";
        const std::vector<uint8_t> data = local_tag_file_data("media.tag");
        return std::string(data.begin(), data.end());
    }
    void start_map(const std::vector<packed_tag> &tags)
    {
        write_foundation_file(tags);
        start_store();
        initialize_media_for_new_map();
        initialize_definitions_for_new_map(&projectile_groups);
    }
    const std::string lake_source = "flags 1\nsplash small spl0\nsplash 6 spl6\nwobble_magnitude 0 -3 12\n"
                                    "wobble_phase_multiplier 3 5 7\nreflection_transparency 24576\n"
                                    "reflection_tint 128 1 2 32768\nsurface_tint 200\n";
};

TEST_F(media_test, data_tool_media_resolves_at_map_start_with_its_splashes)
{
    const std::string lake = tool_media(lake_source);
    ASSERT_EQ(lake.size(), (size_t)MEDIA_DEFINITION_SIZE);
    const uint8_t *b = (const uint8_t *)lake.data();
    EXPECT_EQ(read_be32(b + 0), 1u);
    EXPECT_EQ(read_be32(b + 4), (uint32_t)SMALL_SPLASH);
    EXPECT_EQ(read_be32(b + 8), 0xFFFFFFFFu); // an empty splash is NONE
    EXPECT_EQ(read_be32(b + 28), (uint32_t)FOOTSTEP_SPLASH);
    EXPECT_EQ((int16_t)read_be16(b + 34), -3);
    EXPECT_EQ(read_be16(b + 42), 7u);
    EXPECT_EQ(read_be16(b + 44), 24576u);
    EXPECT_EQ(read_be16(b + 46), 128u);
    EXPECT_EQ(read_be16(b + 52), 32768u);
    EXPECT_EQ(read_be16(b + 56), 200u);

    const std::string group(4, '\0');
    start_map({{MESH_GROUP_TAG, FOUR_CHARACTER_CODE('w', 'e', 't', ' '), "wet", MESH_TAG_VERSION, mesh_naming(LAKE)},
               {MESH_GROUP_TAG, FOUR_CHARACTER_CODE('d', 'r', 'y', ' '), "dry", MESH_TAG_VERSION, mesh_naming(NONE)},
               {MESH_GROUP_TAG, FOUR_CHARACTER_CODE('l', 'o', 's', 't'), "lost", MESH_TAG_VERSION,
                mesh_naming(FOUR_CHARACTER_CODE('g', 'o', 'n', 'e'))},
               {MEDIA_DEFINITION_GROUP_TAG, LAKE, "lake", MEDIA_DEFINITION_VERSION, lake},
               {PROJECTILE_GROUP_DEFINITION_GROUP_TAG, FOOTSTEP_SPLASH, "spl6", 1, group},
               {PROJECTILE_GROUP_DEFINITION_GROUP_TAG, SMALL_SPLASH, "spl0", 1, group}});

    ASSERT_TRUE(initialize_mesh_for_new_map(FOUR_CHARACTER_CODE('w', 'e', 't', ' ')));
    const int32_t media_type = get_mesh_header()->media_type;
    ASSERT_NE(media_type, NONE);
    const media_definition *media = get_media_definition(media_type);
    ASSERT_NE(media, nullptr);
    EXPECT_EQ(media->flags, (uint32_t)_media_has_no_reflections_flag);
    EXPECT_EQ(media->wobble_magnitude[2], 12);
    EXPECT_EQ(media->wobble_phase_multiplier[1], 5);
    EXPECT_EQ(media->reflection_transparency, 24576);
    EXPECT_EQ(media->reflection_tint_color.blue, 32768);
    EXPECT_EQ(media->surface_tint_fraction, 200);

    const int32_t small = subgroup_tag_to_definition_index(&projectile_groups, SMALL_SPLASH);
    const int32_t footstep = subgroup_tag_to_definition_index(&projectile_groups, FOOTSTEP_SPLASH);
    ASSERT_NE(small, NONE);
    ASSERT_NE(footstep, NONE);
    EXPECT_EQ(get_mesh_media_projectile_group_type(_media_splash_small), small);
    EXPECT_EQ(get_mesh_media_projectile_group_type(_media_splash_footstep), footstep);
    for (int32_t splash : {-1, (int32_t)_media_splash_medium, (int32_t)_media_splash_steam, 7, 1000})
        EXPECT_EQ(get_mesh_media_projectile_group_type(splash), NONE) << splash;
    EXPECT_EQ(take_pending_error(), _error_none);

    // A map without media answers NONE for every splash.
    ASSERT_TRUE(initialize_mesh_for_new_map(FOUR_CHARACTER_CODE('d', 'r', 'y', ' ')));
    EXPECT_EQ(get_mesh_header()->media_type, NONE);
    EXPECT_EQ(get_mesh_media_projectile_group_type(_media_splash_small), NONE);

    // A map naming media that is not there is refused, the field named.
    EXPECT_FALSE(initialize_mesh_for_new_map(FOUR_CHARACTER_CODE('l', 'o', 's', 't')));
    EXPECT_EQ(take_pending_error(), _error_data_corrupted);
    EXPECT_NE(log_text().find("media_tag 'gone'"), std::string::npos);
    EXPECT_FALSE(mesh_is_loaded());
    EXPECT_EQ(get_mesh_media_projectile_group_type(_media_splash_small), NONE);
}

TEST_F(media_test, corrupted_media_definitions_are_refused_by_game_and_tool)
{
    const std::string good = tool_media(lake_source);
    ASSERT_EQ(good.size(), (size_t)MEDIA_DEFINITION_SIZE);
    struct corruption
    {
        const char *field;
        std::function<void(std::string &)> damage;
        const char *source; // the same fault in a tool source, or null
    };
    const corruption cases[] = {
        {"size", [](std::string &s) { s.resize(63); }, nullptr},
        {"size", [](std::string &s) { s.push_back('\0'); }, nullptr},
        {"flags", [](std::string &s) { s[3] = 3; }, "flags 2\n"},
        {"reflection_tint_fraction", [](std::string &s) { write_be16(&s[46], 257); }, "reflection_tint 257 0 0 0\n"},
        {"reflection_tint_color flags", [](std::string &s) { s[55] = 1; }, nullptr},
        {"surface_tint_fraction", [](std::string &s) { write_be16(&s[56], 257); }, "surface_tint 257\n"},
        {"unused", [](std::string &s) { s[63] = 1; }, nullptr},
    };
    std::vector<packed_tag> tags = {{MESH_GROUP_TAG, FOUR_CHARACTER_CODE('b', 'a', 'd', 'm'), "badm", MESH_TAG_VERSION,
                                     mesh_naming(FOUR_CHARACTER_CODE('b', 'a', 'd', '2'))}};
    static const char *const names[] = {"bad0", "bad1", "bad2", "bad3", "bad4", "bad5", "bad6"};
    static_assert(NUMBER_OF(names) == NUMBER_OF(cases));
    for (size_t i = 0; i < NUMBER_OF(cases); ++i)
    {
        std::string bytes = good;
        cases[i].damage(bytes);
        tags.push_back({MEDIA_DEFINITION_GROUP_TAG, FOUR_CHARACTER_CODE('b', 'a', 'd', '0' + (char)i), names[i],
                        MEDIA_DEFINITION_VERSION, bytes});
        if (cases[i].source)
        {
            EXPECT_EQ(tool_media(cases[i].source), "") << cases[i].field;
        }
    }
    start_map(tags);
    for (size_t i = 0; i < NUMBER_OF(cases); ++i)
    {
        EXPECT_EQ(try_definition_tag_to_index(&media_definitions, FOUR_CHARACTER_CODE('b', 'a', 'd', '0' + (char)i),
                                              true, 0),
                  NONE)
            << cases[i].field;
        EXPECT_EQ(take_pending_error(), _error_data_corrupted) << cases[i].field;
        EXPECT_NE(log_text().find(std::string("refused: ") + cases[i].field), std::string::npos) << cases[i].field;
    }
    // The map naming one of them loads without water: no media, no splash.
    ASSERT_TRUE(initialize_mesh_for_new_map(FOUR_CHARACTER_CODE('b', 'a', 'd', 'm')));
    EXPECT_EQ(get_mesh_header()->media_type, NONE);
    EXPECT_EQ(get_mesh_media_projectile_group_type(_media_splash_small), NONE);
    EXPECT_NE(log_text().find("loads without water"), std::string::npos);
}

} // namespace

} // namespace media_test_file
