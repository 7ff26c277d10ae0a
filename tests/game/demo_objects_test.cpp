// The demo map with its scenery and watchtower, written by the data tool
// from the sources in data/, loaded through the store, its markers placed and
// its objects listed with their cells; the tower's heights, kept from one
// question to the next, follow it when it turns, tilts, grows, changes type
// or is replaced elsewhere in its slot.

#include "tag_files/store_fixture.h"

#include <filesystem>

#include "game_time.h"
#include "markers.h"
#include "mesh.h"
#include "model_animations.h"
#include "model_effects.h"
#include "models.h"
#include "objects.h"
#include "scenery.h"
#include "tag_files/definitions.h"
#include "support/demo_data.h"
#include "support/objects_world.h"

namespace demo_objects_test_file {

namespace {

namespace fs = std::filesystem;

class demo_objects_test : public store_fixture::store_test
{
protected:
    void TearDown() override
    {
        dispose_objects_world();
        store_test::TearDown();
    }

    // The demo map with its scenery and tower placed (six markers).
    void place_demo_objects(void)
    {
        WRITE_DEMO_FOUNDATION_FILES();
        start_store();
        ASSERT_TRUE(load_objects_world(objects_world_map{})); // starts the modules
        ASSERT_TRUE(initialize_mesh_for_new_map(FOUR_CHARACTER_CODE('d', 'e', 'm', 'o')));
        initialize_objects_for_new_map();
        initialize_models_for_new_map();
        initialize_scenery_for_new_map();
        ASSERT_TRUE(initialize_markers_for_new_map());
        game_->difficulty_level = 2;
        EXPECT_EQ(place_markers_of_type(_marker_model) + place_markers_of_type(_marker_scenery), 6);
    }
};

// The model's heights over its ground, point by point, are those of a model
// placed afresh as it stands now, in a slot no model had before.
void expect_heights_of_a_fresh_model(int32_t model_index, const char *what)
{
    const model_data *model = get_model(model_index);
    ASSERT_NE(model, nullptr) << what;
    const new_model_data data = {model->type,  model->flags,    model->model_permutation, model->scale,
                                 model->location, model->yaw, model->pitch};
    const int32_t fresh = new_model(&data);
    ASSERT_NE(fresh, NONE) << what;
    int32_t on_a_surface = 0;
    for (int32_t dy = -1536; dy <= 1536; dy += 96)
        for (int32_t dx = -1536; dx <= 1536; dx += 96)
        {
            const world_distance x = data.location.x + dx, y = data.location.y + dy;
            const world_distance height = get_model_height_at_position(model_index, x, y, 100000);
            EXPECT_EQ(height, get_model_height_at_position(fresh, x, y, 100000)) << what << " at " << dx << ", " << dy;
            on_a_surface += height != MESH_NO_HEIGHT;
        }
    EXPECT_GT(on_a_surface, 10) << what;
    // Left standing: a model placed later in this slot could be given the
    // vertices kept for this one.
}

TEST_F(demo_objects_test, the_tower_heights_follow_every_change_of_its_placement)
{
    ASSERT_NO_FATAL_FAILURE(place_demo_objects());
    const int32_t tower = model_identifier_to_model_index(200);
    ASSERT_NE(tower, NONE);
    const int32_t gate = try_definition_tag_to_index(&model_definitions, FOUR_CHARACTER_CODE('g', 'a', 't', 'e'), true, 0);
    ASSERT_NE(gate, NONE);
    struct change
    {
        const char *name;
        void (*apply)(int32_t tower, int32_t gate);
    };
    const change changes[] = {
        {"as placed", [](int32_t, int32_t) {}},
        {"turned an eighth", // a quarter turn would leave a square tower as it was
         [](int32_t t, int32_t) {
             const model_data *m = get_model(t);
             set_model_orientation(t, (angle)(m->yaw + QUARTER_CIRCLE / 2), m->pitch, m->scale);
         }},
        {"tilted",
         [](int32_t t, int32_t) {
             const model_data *m = get_model(t);
             set_model_orientation(t, m->yaw, (angle)(m->pitch + QUARTER_CIRCLE / 8), m->scale);
         }},
        {"grown by half",
         [](int32_t t, int32_t) {
             const model_data *m = get_model(t);
             set_model_orientation(t, m->yaw, m->pitch, (int16_t)(m->scale * 3 / 2));
         }},
        {"given another type", [](int32_t t, int32_t g) { ASSERT_TRUE(set_model_type(t, (int16_t)g)); }},
        {"replaced in its slot elsewhere",
         [](int32_t t, int32_t) {
             const model_data *m = get_model(t);
             new_model_data data = {m->type, m->flags, m->model_permutation, m->scale, m->location, m->yaw, m->pitch};
             data.location.x += 1024;
             delete_model(t);
             ASSERT_EQ(new_model(&data), t);
         }},
    };
    for (const change &c : changes)
    {
        // The question before the change keeps the vertices as they were.
        EXPECT_NE(get_model_height_at_position(tower, get_model(tower)->location.x, get_model(tower)->location.y,
                                               100000),
                  MESH_NO_HEIGHT)
            << c.name;
        c.apply(tower, gate);
        expect_heights_of_a_fresh_model(tower, c.name);
    }
}

TEST_F(demo_objects_test, demo_map_places_its_scenery_and_model)
{
    ASSERT_NO_FATAL_FAILURE(place_demo_objects());

    // The listing a map maker reads: every object with its cell.
    int32_t listed = 0;
    for (int32_t y = 0; y < mesh_height; ++y)
        for (int32_t x = 0; x < mesh_width; ++x)
            for (int32_t i = get_mesh_cell(x, y)->first_object_index; i != NONE; i = get_object(i)->next_object_index)
            {
                const object_data *object = get_object(i);
                printf("object %d (identifier %d, owner %d) in cell (%d, %d) at (%d, %d, %d)\n", (int)i,
                       (int)object->identifier, (int)object->owner, (int)x, (int)y, (int)object->location.position.x,
                       (int)object->location.position.y, (int)object->location.position.z);
                listed += 1;
            }
    EXPECT_EQ(listed, 5);
    EXPECT_TRUE(object_chains_are_consistent());
    const marker_data *tree = get_marker_by_identifier(_marker_scenery, 100);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(get_object(tree->data_index)->location.position.x >> 9, 9);
    const int32_t tower = model_identifier_to_model_index(200);
    ASSERT_NE(tower, NONE);
    EXPECT_EQ(get_model_index_from_mesh_cell(8960 >> 9, 5120 >> 9), tower);
    const world_point2d base = {8960, 5120};
    EXPECT_EQ(get_model_height_at_position(tower, 8960, 5120, 100000), get_mesh_height(&base, _mesh_surface_height) + 1536);
}

} // namespace

} // namespace demo_objects_test_file
