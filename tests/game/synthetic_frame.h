#pragma once
// A hand-built last frame for picking and the selection: a camera straight
// above world point (4096, 4096) (or another centre) at height 4096, looking
// down, with a focal length of 512 pixels, so one world unit is 1/8 pixel:
// world (x, y) lies at screen (320 + (x - 4096) / 8, 240 - (y - 4096) / 8) on
// a 640 x 480 screen.
// Surfaces live in std::deques so their addresses stay put; link() chains them
// in the order added (nearest first, as the renderer leaves its list).

#include <deque>
#include <vector>

#include "objects.h"
#include "pick.h"

struct synthetic_frame
{
    rendered_view_data view;
    std::deque<render_vertex> vertices;
    std::deque<render_triangle> triangles;
    std::deque<render_model_triangle> model_triangles;
    std::deque<render_rectangle> rectangles;
    std::vector<render_surface *> order;

    explicit synthetic_frame(world_distance centre_x = 4096, world_distance centre_y = 4096)
    {
        view = {};
        view.screen_width = 640;
        view.screen_height = 480;
        view.centre = {320, 240};
        view.origin = {centre_x, centre_y, 4096};
        for (int i = 0; i < 3; ++i) view.world_to_viewer_rotation[i][i] = 16384;
        view.world_to_screen = 512;
    }

    // Where a ground point lies on screen in a frame centred on (4096, 4096).
    static point2d project(world_distance x, world_distance y)
    {
        return {(int16_t)(320 + (x - 4096) / 8), (int16_t)(240 - (y - 4096) / 8)};
    }
    // Where a ground point lies on screen in this frame.
    point2d screen(world_distance x, world_distance y) const
    {
        return {(int16_t)(320 + (x - view.origin.x) / 8), (int16_t)(240 - (y - view.origin.y) / 8)};
    }

    render_vertex *vertex(point2d screen, point2d mesh, world_point3d p = {0, 0, 0})
    {
        vertices.push_back(render_vertex{0, mesh, p, screen});
        return &vertices.back();
    }

    // A terrain triangle over cells given as corner cells.
    render_surface *mesh_triangle(point2d a, point2d b, point2d c, uint32_t flags = 0)
    {
        render_triangle t = {};
        t.header.packed = pack_surface_word(flags, _surface_type_triangle, _surface_subtype_mesh_triangle);
        const point2d cells[3] = {a, b, c};
        for (int i = 0; i < 3; ++i)
            t.corners[i].vertex = vertex(screen(cells[i].x * 512, cells[i].y * 512), cells[i]);
        triangles.push_back(t);
        order.push_back(&triangles.back().header);
        return order.back();
    }
    // A triangle with the screen corners given directly.
    render_surface *mesh_triangle_on_screen(point2d a, point2d b, point2d c)
    {
        render_triangle t = {};
        t.header.packed = pack_surface_word(0, _surface_type_triangle, _surface_subtype_mesh_triangle);
        const point2d corners[3] = {a, b, c};
        for (int i = 0; i < 3; ++i) t.corners[i].vertex = vertex(corners[i], {0, 0});
        triangles.push_back(t);
        order.push_back(&triangles.back().header);
        return order.back();
    }

    render_surface *model_triangle(const world_point3d world[3], uint16_t model_index, uint16_t triangle_index)
    {
        render_model_triangle t = {};
        t.header.packed = pack_surface_word(0, _surface_type_triangle, _surface_subtype_model_triangle);
        for (int i = 0; i < 3; ++i)
        {
            const world_point3d p = {world[i].x - view.origin.x, world[i].y - view.origin.y,
                                     world[i].z - view.origin.z};
            t.corners[i].vertex = vertex(screen(world[i].x, world[i].y), {(int16_t)i, 0}, p);
        }
        t.model_index = model_index;
        t.triangle_index = triangle_index;
        model_triangles.push_back(t);
        order.push_back(&model_triangles.back().header);
        return order.back();
    }

    // The object's sprite, drawn as picking projects its extent.
    render_surface *object_rectangle(int32_t object_index)
    {
        const object_data *object = get_object(object_index);
        const int32_t depth = view.origin.z - object->location.position.z;
        const int32_t x = object->location.position.x - view.origin.x;
        const int32_t y = object->location.position.y - view.origin.y;
        render_rectangle r = {};
        r.header.packed = pack_surface_word(0, _surface_type_rectangle, _surface_subtype_object_rectangle);
        r.x0 = (int16_t)(320 + (int64_t)(x - object->radius) * 512 / depth);
        r.x1 = (int16_t)(320 + (int64_t)(x + object->radius) * 512 / depth);
        r.y0 = (int16_t)(240 - (int64_t)(y + object->height1) * 512 / depth);
        r.y1 = (int16_t)(240 - (int64_t)(y + object->height0) * 512 / depth);
        r.object_index = (int16_t)object_index;
        rectangles.push_back(r);
        order.push_back(&rectangles.back().header);
        return order.back();
    }

    void link_and_install(void)
    {
        for (size_t i = 0; i < order.size(); ++i)
        {
            order[i]->previous_surface = i ? order[i - 1] : nullptr;
            order[i]->next_surface = i + 1 < order.size() ? order[i + 1] : nullptr;
        }
        install_test_render_frame(&view, order.empty() ? nullptr : order[0]);
    }
};
