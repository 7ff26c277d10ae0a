// The carnage report's graph.

#include "bitmap_dialogs/carnage_graph_control.h"

#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/cseries.h"
#include "cseries/log.h"
#include "game_records.h"
#include "game_time.h"
#include "interface_definitions.h"
#include "shapes.h"

#define CARNAGE_GRAPH_COOKIE FOUR_CHARACTER_CODE('c', 'g', 'r', 'f')

struct carnage_graph_extra_data
{
    int32_t cookie;
    int16_t graph_type;
};

// The shade laid under the graph: black at a third.
static const fixed_fraction GRAPH_SHADE_TRANSPARENCY = 21845;
// Bright on the dark shade and far apart: blue, red, green, yellow, cyan,
// magenta, orange, white.
static const rgb_color readable_colors[] = {
    {0x5000, 0x9000, 0xFFFF, 0}, {0xFFFF, 0x4000, 0x4000, 0}, {0x4000, 0xE000, 0x4000, 0},
    {0xFFFF, 0xF000, 0x3000, 0}, {0x3000, 0xF000, 0xF000, 0}, {0xF000, 0x5000, 0xF000, 0},
    {0xFFFF, 0xA000, 0x2000, 0}, {0xFFFF, 0xFFFF, 0xFFFF, 0},
};
enum
{
    // Rec. 601 weights out of 1000: below this share of full brightness a
    // curve is lost on the shade.
    MINIMUM_READABLE_LUMA = 350,
    READABLE_LUMA_HEADROOM = 50,
    LEGEND_MARGIN = 6,
    LEGEND_SWATCH_WIDTH = 12,
    LEGEND_ROW_HEIGHT = 14,
};

bool graph_type_is_valid(int16_t type)
{
    switch (type)
    {
    case 1:
    case 2:
    case 4: return true;
    case 0: return game_->scoring == _game_scoring_cattle_drive;
    default: return false;
    }
}

static carnage_graph_extra_data *carnage_graph_record(const dialog_data *dialog, int16_t item_id)
{
    return get_control_record<carnage_graph_extra_data>(dialog, item_id, carnage_graph_control_handler,
                                                        CARNAGE_GRAPH_COOKIE, nullptr);
}

void set_carnage_graph_type(dialog_data *dialog, int16_t item_id, int16_t type)
{
    carnage_graph_extra_data *data = carnage_graph_record(dialog, item_id);
    if (!data || !graph_type_is_valid(type) || data->graph_type == type) return;
    data->graph_type = type;
    set_dialog_item_dirty(dialog, item_id);
}

int16_t get_carnage_graph_type(const dialog_data *dialog, int16_t item_id)
{
    const carnage_graph_extra_data *data = carnage_graph_record(dialog, item_id);
    return data ? data->graph_type : (int16_t)NONE;
}

// A team's value in one sample, as its low 16 bits, signed.
static int16_t team_value(int16_t type, const carnage_graph_input *input, const statistics_sample *sample,
                          int16_t team)
{
    switch (type)
    {
    case 1: return (int16_t)sample->teams[team].enemy_kills;
    case 2: return (int16_t)sample->teams[team].damage_to_enemies;
    case 4: return (int16_t)sample->teams[team].kills_against_by_local_team;
    default:
    {
        int16_t sum = 0;
        for (int16_t p = 0; p < input->player_count && p < MAXIMUM_PLAYERS_PER_GAME; ++p)
        {
            if (input->player_team[p] != team) continue;
            if (input->scoring != _game_scoring_custom && input->player_type[p] != 0) continue;
            sum = (int16_t)(sum + (int16_t)sample->players[p].score);
        }
        return sum;
    }
    }
}

void lay_out_carnage_graph(int16_t type, const rectangle2d *bounds, const carnage_graph_input *input,
                           carnage_graph_line_procedure line, void *context)
{
    if (type < 0 || type >= NUMBER_OF_CARNAGE_GRAPH_TYPES)
    {
        log_message(__FILE__, __LINE__, "What kind of graph is %d", (int)type);
        return;
    }
    if (!input->samples || input->sample_count <= 0) return;
    const int16_t teams = input->team_count < 0                       ? (int16_t)0
                          : input->team_count > MAXIMUM_TEAMS_PER_GAME ? (int16_t)MAXIMUM_TEAMS_PER_GAME
                                                                       : input->team_count;
    const int32_t left = bounds->left, right = bounds->right, bottom = bounds->bottom;
    const int32_t top = bounds->top + CARNAGE_GRAPH_TITLE_HEIGHT;

    // The range of the running sums.
    int32_t largest = INT32_MIN, smallest = INT32_MAX;
    for (int16_t team = 0; team < teams; ++team)
    {
        int32_t sum = 0;
        for (int32_t i = 0; i < input->sample_count; ++i)
        {
            sum += team_value(type, input, &input->samples[i], team);
            if (sum > largest) largest = sum;
            if (sum < smallest) smallest = sum;
        }
    }
    if (teams == 0) largest = smallest = 0;
    const int32_t maximum = largest + 1;
    const int32_t minimum = type == 0 ? smallest - 1 : 0;
    const int64_t span = (int64_t)input->sample_count * input->ticks_per_sample + input->ticks_in_last_sample;
    const double horizontal = span > 0 ? (double)(right - left) / (double)span : 0.0;
    const double vertical = maximum != minimum ? (double)(bottom - top) / (double)(maximum - minimum) : 0.0;

    int32_t baseline = bottom;
    if (minimum < 0)
    {
        baseline = (int32_t)(bottom - (0.0 - minimum) * vertical);
        line(context, &rgb_black, point2d{(int16_t)left, (int16_t)baseline}, point2d{(int16_t)right, (int16_t)baseline});
    }
    for (int16_t team = 0; team < teams; ++team)
    {
        point2d from = {(int16_t)left, (int16_t)baseline};
        int32_t sum = 0;
        for (int32_t i = 0; i < input->sample_count; ++i)
        {
            sum += team_value(type, input, &input->samples[i], team);
            const point2d to = {(int16_t)(left + (int32_t)((double)i * input->ticks_per_sample * horizontal)),
                                (int16_t)(bottom - (int32_t)((double)(sum - minimum) * vertical))};
            line(context, &input->team_color[team], from, to);
            from = to;
        }
    }
}

static bool same_color(const rgb_color &a, const rgb_color &b)
{
    return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

static uint32_t luma_of(const rgb_color &c) { return (299u * c.red + 587u * c.green + 114u * c.blue) / 65535u; }

// A dark colour made readable with its hue kept: scaled up, then (a colour
// whose brightest part is full already) mixed with white.
static rgb_color brightened(rgb_color c)
{
    const uint32_t luma = luma_of(c), target = MINIMUM_READABLE_LUMA + READABLE_LUMA_HEADROOM;
    if (luma == 0 || luma >= target) return c;
    for (uint16_t *part : {&c.red, &c.green, &c.blue})
    {
        const uint32_t scaled = (uint32_t)*part * target / luma;
        *part = (uint16_t)(scaled > 0xFFFF ? 0xFFFF : scaled);
    }
    const uint32_t reached = luma_of(c);
    if (reached < target)
        for (uint16_t *part : {&c.red, &c.green, &c.blue})
            *part = (uint16_t)(*part + (0xFFFFu - *part) * (target - reached) / (1000u - reached));
    return c;
}

void make_carnage_graph_colors_readable(rgb_color *colors, int16_t count)
{
    for (int16_t t = 0; t < count; ++t)
    {
        const uint32_t luma = luma_of(colors[t]);
        bool taken = false;
        for (int16_t u = 0; u < t && !taken; ++u) taken = same_color(colors[u], colors[t]);
        if (luma >= MINIMUM_READABLE_LUMA && !taken) continue;
        // The legend names a player by his colour: a dark one keeps its hue.
        if (!taken && luma > 0)
        {
            const rgb_color own = brightened(colors[t]);
            bool used = false;
            for (int16_t u = 0; u < t && !used; ++u) used = same_color(colors[u], own);
            if (!used)
            {
                colors[t] = own;
                continue;
            }
        }
        for (const rgb_color &candidate : readable_colors)
        {
            bool used = false;
            for (int16_t u = 0; u < t && !used; ++u) used = same_color(colors[u], candidate);
            if (used) continue;
            colors[t] = candidate;
            break;
        }
    }
}

void get_carnage_graph_input(carnage_graph_input *input)
{
    memset(input, 0, sizeof(*input));
    input->samples = get_player_statistics_sample_range(&input->sample_count, &input->ticks_per_sample,
                                                        &input->ticks_in_last_sample);
    input->scoring = game_->scoring;
    input->team_count = get_team_count();
    input->player_count = get_player_count();
    for (int16_t p = 0; p < input->player_count && p < MAXIMUM_PLAYERS_PER_GAME; ++p)
    {
        const player_data *player = get_player_data(p);
        input->player_team[p] = player ? player->team_index : (int8_t)NONE;
        input->player_type[p] = player ? player->type : (int16_t)NONE;
    }
    for (int16_t t = 0; t < input->team_count && t < MAXIMUM_TEAMS_PER_GAME; ++t)
    {
        const team_data *team = get_team_data(t);
        // A team without a captain (or naming one the game no longer has) is nobody's colour.
        const player_data *captain = team && team->captain_player_index >= 0 &&
                                             team->captain_player_index < input->player_count
                                         ? get_player_data(team->captain_player_index)
                                         : nullptr;
        // A team without a captain has nobody's colour: drawn grey.
        input->team_color[t] = captain ? captain->appearance.primary_color : rgb_neutral_grey;
        const char *name = !captain                             ? ""
                           : captain->appearance.team_name[0] ? captain->appearance.team_name
                                                              : captain->appearance.name;
        if (name[0])
            strlcpy(input->team_name[t], name, sizeof(input->team_name[t]));
        else
            slprintf(input->team_name[t], sizeof(input->team_name[t]), "Team %d", (int)t + 1);
    }
    const int16_t teams = input->team_count < MAXIMUM_TEAMS_PER_GAME ? input->team_count : (int16_t)MAXIMUM_TEAMS_PER_GAME;
    make_carnage_graph_colors_readable(input->team_color, teams);
}

struct graph_drawing
{
    bitmap_data *bitmap;
    const rectangle2d *clip;
};

// Two pixels thick: one pixel of a curve is lost on the report's picture.
static void draw_graph_line(void *context, const rgb_color *color, point2d from, point2d to)
{
    const graph_drawing *drawing = (const graph_drawing *)context;
    draw_line(drawing->bitmap, color, 0, nullptr, drawing->clip, &from, &to);
    from.y = (int16_t)(from.y - 1);
    to.y = (int16_t)(to.y - 1);
    draw_line(drawing->bitmap, color, 0, nullptr, drawing->clip, &from, &to);
}

// Under the title, at the left: each team's colour and its name in it, as
// many as fit.
static void draw_graph_legend(bitmap_data *bitmap, const rectangle2d *bounds, const carnage_graph_input *input)
{
    const int32_t font = get_interface_font_index(0);
    const int16_t teams = input->team_count < MAXIMUM_TEAMS_PER_GAME ? input->team_count : (int16_t)MAXIMUM_TEAMS_PER_GAME;
    for (int16_t t = 0; t < teams; ++t)
    {
        const int32_t top = bounds->top + CARNAGE_GRAPH_TITLE_HEIGHT + LEGEND_MARGIN + t * LEGEND_ROW_HEIGHT;
        if (top + LEGEND_ROW_HEIGHT > bounds->bottom) break;
        const int32_t middle = top + LEGEND_ROW_HEIGHT / 2;
        const rectangle2d swatch = {(int16_t)(middle - 2), (int16_t)(bounds->left + LEGEND_MARGIN), (int16_t)(middle + 2),
                                    (int16_t)(bounds->left + LEGEND_MARGIN + LEGEND_SWATCH_WIDTH)};
        fill_rectangle_clipped(bitmap, &input->team_color[t], &swatch, bounds, 0, nullptr);
        if (font == NONE) continue;
        const rectangle2d text = {(int16_t)top, (int16_t)(swatch.right + 4), (int16_t)(top + LEGEND_ROW_HEIGHT),
                                  bounds->right};
        draw_string(bitmap, nullptr, &text, bounds, font, 0, &input->team_color[t], input->team_name[t],
                    _draw_string_center_vertical_flag, 0);
    }
}

intptr_t carnage_graph_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb: return (intptr_t)new_control_record<carnage_graph_extra_data>(CARNAGE_GRAPH_COOKIE);
    case _control_click_verb: return 0;
    case _control_draw_verb:
    {
        const control_data *item = find_control(dialog, item_id);
        const param_control_draw_verb *p = (const param_control_draw_verb *)parameter;
        const carnage_graph_extra_data *data = carnage_graph_record(dialog, item_id);
        if (!item || !p || !p->dialog_bitmap || !data) return 0;
        fill_rectangle_clipped(p->dialog_bitmap, &rgb_black, &item->bounds, nullptr, GRAPH_SHADE_TRANSPARENCY,
                               get_transparency_table(_transparency_normal));
        carnage_graph_input *input = (carnage_graph_input *)malloc(sizeof(carnage_graph_input));
        if (!input) return 0;
        get_carnage_graph_input(input);
        graph_drawing drawing = {p->dialog_bitmap, &item->bounds};
        lay_out_carnage_graph(data->graph_type, &item->bounds, input, draw_graph_line, &drawing);
        draw_graph_legend(p->dialog_bitmap, &item->bounds, input);
        free(input);
        return 0;
    }
    default: return default_control_handler(verb, dialog, item_id, parameter);
    }
}

#undef CARNAGE_GRAPH_COOKIE
