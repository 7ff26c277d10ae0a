// The demo map with its scenery and watchtower, written by the data tool
// from the sources in data/, loaded through the store, its markers placed and
// its objects listed with their cells.

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
#include "support/demo_data.h"
#include "support/objects_world.h"

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
};

TEST_F(demo_objects_test, demo_map_places_its_scenery_and_model)
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
