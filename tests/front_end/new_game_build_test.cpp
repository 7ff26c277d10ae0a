// Building a game from the new-game dialog's choice, by decision table: the
// map's mesh bits, the option bits, the map's plug-in (none, or its version
// word 0xFFFF, without or with the safe-with-vux bit), the vux warning's
// answer, the gameplay selector and whether the build may ask; a fake
// plug-in resolver and a scripted warning stand in for the store and the
// player.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gameplay_versions.h"
#include "mesh_format.h"
#include "new_game_dialog.h"
#include "support/expected_assertions.h"

namespace new_game_build_test_file {

namespace
{

constexpr uint32_t VUX = _game_option_uses_vux_flag, ANTICLUMP = _game_option_uses_anticlump_flag;
constexpr uint32_t MESH_VUX = 1u << _mesh_uses_vvux_bit, MESH_ANTICLUMP = 1u << _mesh_uses_anticlump_bit,
                   MESH_REQUIRES = 1u << _mesh_requires_plugin_bit;
constexpr int16_t MAP_PLUGIN = 7;

struct fakes
{
    int16_t plugin_version = PLUGIN_VERSION_NO_FLAGS;
    int16_t answer = _vvux_use_vux_item;
    bool resolver_fails = false, resolver_clears_vux = false;
    // What they saw.
    std::vector<std::string> questions;
    int resolves = 0;
    bool resolved_vux = false, resolved_interactive = false;
    int32_t resolved_minimum = 0, resolved_map_plugin = 0;
    std::string resolved_required;
} fake;

bool fake_resolve(int16_t *indexes, int32_t *count, int32_t maximum, const int16_t *, int32_t, int32_t,
                  int32_t map_plugin, const char *required, bool *uses_vux, int32_t minimum, bool interactive)
{
    fake.resolves++;
    fake.resolved_vux = *uses_vux;
    fake.resolved_minimum = minimum;
    fake.resolved_interactive = interactive;
    fake.resolved_map_plugin = map_plugin;
    fake.resolved_required = required ? required : "";
    if (fake.resolver_fails || maximum < 2) return false;
    if (fake.resolver_clears_vux) *uses_vux = false;
    indexes[0] = 3;
    indexes[1] = (int16_t)map_plugin;
    *count = 2;
    return true;
}

const plugin_datum *fake_plugin(int32_t index)
{
    static plugin_datum plugin;
    if (index != MAP_PLUGIN) return nullptr;
    memset(&plugin, 0, sizeof(plugin));
    plugin.identifier = MAP_PLUGIN;
    plugin.version = fake.plugin_version;
    strcpy(plugin.name, "Odd %n Maps");
    return &plugin;
}

int16_t fake_question(const char *message)
{
    fake.questions.push_back(message);
    return fake.answer;
}

int32_t fake_encode(const int16_t *indexes, int32_t count, void *encoded)
{
    memset(encoded, 0, ENCODED_PLUGIN_LIST_SIZE);
    uint8_t *bytes = (uint8_t *)encoded;
    for (int32_t i = 0; i < count; ++i) bytes[i] = (uint8_t)indexes[i];
    return count;
}

class new_game_build : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fake = fakes{};
        static const ngd_build_services services = {fake_resolve, fake_plugin, fake_question, fake_encode};
        set_ngd_build_services(&services);
    }
    void TearDown() override { set_ngd_build_services(nullptr); }
};

// What the build must give, worked out case by case from the rules rather
// than by the code's steps.
struct expectation
{
    bool built;
    bool asked;
    uint32_t params_bits; // the working record's two gameplay bits afterwards
    uint32_t out_bits;
    int32_t version;
    int32_t minimum;
};

expectation expected(uint32_t mesh, uint32_t options, bool has_plugin, int16_t version_word, int16_t answer,
                     int32_t selector, bool interactive, int32_t minimum_version)
{
    expectation e = {};
    e.params_bits = options;
    const bool safe = version_word != PLUGIN_VERSION_NO_FLAGS && (version_word & 2);
    const bool warned_path = !(mesh & MESH_VUX) && interactive && (options & VUX) && has_plugin;
    e.asked = warned_path && !safe;
    const int16_t effective = e.asked ? answer : (int16_t)_vvux_use_vux_item;
    uint32_t bits = options;
    if (mesh & MESH_VUX) bits |= VUX;
    if (warned_path && effective == _vvux_use_anticlump_item) bits = (bits & ~VUX) | ANTICLUMP;
    if (warned_path) e.params_bits = bits;
    if (warned_path && effective == _vvux_cancel_item) return e;
    if (bits & VUX) bits &= ~ANTICLUMP;
    e.out_bits = bits;
    e.version = selector > 0 ? selector : DEFAULT_GAMEPLAY_VERSION;
    const int32_t required = selector < -1 ? -selector : -1;
    e.minimum = required > minimum_version ? required : minimum_version;
    e.built = gameplay_version_is_known(e.version);
    return e;
}

TEST_F(new_game_build, every_combination_of_map_options_plugin_answer_selector_and_interaction)
{
    const uint32_t meshes[] = {0, MESH_ANTICLUMP, MESH_VUX};
    const uint32_t options[] = {0, VUX, ANTICLUMP};
    const struct
    {
        bool has_plugin;
        int16_t version_word;
    } plugins[] = {{false, 0}, {true, PLUGIN_VERSION_NO_FLAGS}, {true, 0x0004}, {true, 0x0002}};
    const int16_t answers[] = {_vvux_use_vux_item, _vvux_use_anticlump_item, _vvux_cancel_item};
    const int32_t known_old = get_gameplay_version_definition(0)->gameplay_version;
    const int32_t selectors[] = {-1, known_old, -1700, 4242};
    int checked = 0;
    for (uint32_t mesh : meshes)
        for (uint32_t option : options)
            for (const auto &plugin : plugins)
                for (int16_t answer : answers)
                    for (int32_t selector : selectors)
                        for (bool interactive : {false, true})
                        {
                            SCOPED_TRACE(testing::Message()
                                         << "mesh " << std::hex << mesh << " options " << option << std::dec
                                         << " plugin " << plugin.has_plugin << "/" << plugin.version_word
                                         << " answer " << answer << " selector " << selector << " interactive "
                                         << interactive);
                            fake = fakes{};
                            fake.plugin_version = plugin.version_word;
                            fake.answer = answer;
                            full_entry_point entry = {};
                            entry.mesh_flags = mesh | 0x10000u;
                            entry.subgroup_tag = FOUR_CHARACTER_CODE('s', 'c', 'r', 'i');
                            entry.plugin_index = plugin.has_plugin ? MAP_PLUGIN : (int16_t)BASE_GAME_PLUGIN_INDEX;
                            new_game_parameter_data params = {};
                            params.option_flags = option | _game_option_cooperative_flag;
                            params.difficulty_level = 3;
                            params.scenario_tag = entry.subgroup_tag;
                            ngd_data ngd = {};
                            ngd.params = &params;
                            ngd.gameplay_selector_value = (int16_t)selector;
                            new_game_parameter_data out;
                            memset(&out, 0xAB, sizeof(out));
                            const new_game_parameter_data untouched = out;

                            const expectation e = expected(mesh, option, plugin.has_plugin, plugin.version_word,
                                                           answer, selector, interactive, 1500);
                            const bool built = ngd_build_game_for_entry_point(&ngd, &entry, &out, 1500, interactive);
                            ++checked;
                            EXPECT_EQ(built, e.built);
                            EXPECT_EQ(fake.questions.size(), e.asked ? 1u : 0u);
                            EXPECT_EQ(params.option_flags & (VUX | ANTICLUMP), e.params_bits);
                            EXPECT_EQ(params.option_flags & ~(VUX | ANTICLUMP), _game_option_cooperative_flag);
                            if (!built)
                            {
                                EXPECT_EQ(memcmp(&out, &untouched, sizeof(out)), 0) << "a failed build writes nothing";
                                continue;
                            }
                            EXPECT_EQ(out.option_flags & (VUX | ANTICLUMP), e.out_bits);
                            EXPECT_EQ(compute_gameplay_version(&out, -1), e.version);
                            EXPECT_EQ(fake.resolved_minimum, e.minimum);
                            EXPECT_EQ(fake.resolved_interactive, interactive);
                            EXPECT_EQ(out.plugin_count, 2);
                            EXPECT_EQ(out.plugin_data[0], 3);
                            EXPECT_EQ(out.plugin_data[1], (uint8_t)entry.plugin_index);
                            EXPECT_EQ(out.difficulty_level, 3);
                            EXPECT_EQ(out.scenario_tag, entry.subgroup_tag);
                        }
    EXPECT_EQ(checked, 3 * 3 * 4 * 3 * 4 * 2);
}

TEST_F(new_game_build, the_resolver_decides_last_and_the_warning_names_the_plugin_as_text)
{
    full_entry_point entry = {};
    entry.mesh_flags = MESH_REQUIRES;
    entry.plugin_index = MAP_PLUGIN;
    strcpy(entry.dependency_name, "Needed Units");
    new_game_parameter_data params = {};
    params.option_flags = VUX;
    ngd_data ngd = {};
    ngd.params = &params;
    ngd.gameplay_selector_value = -1;
    new_game_parameter_data out = {};

    // A plug-in that is not safe with vux: the resolver turns vux off.
    fake.plugin_version = 0x0002;
    fake.resolver_clears_vux = true;
    ASSERT_TRUE(ngd_build_game_for_entry_point(&ngd, &entry, &out, -1, true));
    EXPECT_EQ(fake.resolved_required, "Needed Units");
    EXPECT_EQ(fake.resolved_map_plugin, MAP_PLUGIN);
    EXPECT_TRUE(fake.resolved_vux);
    EXPECT_EQ(out.option_flags & (VUX | ANTICLUMP), 0u);

    // The resolver failing fails the build; no map selected fails it too.
    fake.resolver_fails = true;
    EXPECT_FALSE(ngd_build_game_for_entry_point(&ngd, &entry, &out, -1, false));
    EXPECT_FALSE(ngd_build_game_for_entry_point(&ngd, nullptr, &out, -1, false));
    {
        expected_assertions expect(1, "out_params != user_params");
        EXPECT_FALSE(ngd_build_game_for_entry_point(&ngd, &entry, &params, -1, false));
    }

    // The plug-in's name goes in as text, never as a format.
    fake = fakes{};
    fake.answer = _vvux_use_anticlump_item;
    entry.mesh_flags = 0;
    ASSERT_TRUE(ngd_build_game_for_entry_point(&ngd, &entry, &out, -1, true));
    ASSERT_EQ(fake.questions.size(), 1u);
    EXPECT_NE(fake.questions[0].find("\"Odd %n Maps\" possibly conflicts"), std::string::npos) << fake.questions[0];
    EXPECT_EQ(out.option_flags & (VUX | ANTICLUMP), ANTICLUMP);
}

} // namespace

} // namespace new_game_build_test_file
