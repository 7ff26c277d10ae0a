// The renderer's effect tables.  See render_effects.h.

#include "render/render_effects.h"

#include <cstring>

#include "cseries/log.h"

namespace {

struct render_effect
{
    render_effect_procedure procedure;
    int16_t priority;
};

struct effect_table
{
    render_effect effects[MAXIMUM_POSTRASTERIZATION_EFFECTS];
    int32_t count;
};

} // namespace

static struct render_effects_globals
{
    effect_table prerender;
    effect_table postrasterization;
} render_effects_globals;

// Keeps the table sorted by descending priority; an effect goes after those
// of its own priority.
static bool insert_effect(effect_table *table, int32_t maximum, const char *kind, render_effect_procedure procedure,
                          int16_t priority)
{
    if (!procedure)
    {
        log_message(__FILE__, __LINE__, "a null %s effect was not registered", kind);
        return false;
    }
    for (int32_t i = 0; i < table->count; ++i)
        if (table->effects[i].procedure == procedure)
        {
            // A start-up step run again (tests, tools) must not run its effect twice a frame.
            log_message(__FILE__, __LINE__, "a %s effect registered again (priority %d) was ignored", kind,
                        (int32_t)priority);
            return false;
        }
    if (table->count >= maximum)
    {
        log_message(__FILE__, __LINE__, "too many %s effects (%d): the one of priority %d is ignored", kind,
                    maximum, (int32_t)priority);
        return false;
    }
    int32_t at = table->count;
    while (at > 0 && table->effects[at - 1].priority < priority) --at;
    memmove(&table->effects[at + 1], &table->effects[at], (size_t)(table->count - at) * sizeof(render_effect));
    table->effects[at].procedure = procedure;
    table->effects[at].priority = priority;
    ++table->count;
    return true;
}

bool register_prerender_effect_procedure(render_effect_procedure procedure, int16_t priority)
{
    return insert_effect(&render_effects_globals.prerender, MAXIMUM_PRERENDER_EFFECTS, "pre-render", procedure,
                         priority);
}

bool register_postrasterization_effect_procedure(render_effect_procedure procedure, int16_t priority)
{
    return insert_effect(&render_effects_globals.postrasterization, MAXIMUM_POSTRASTERIZATION_EFFECTS,
                         "post-rasterization", procedure, priority);
}

void run_prerender_effects(view_data *view, prerender_effect_runner runner)
{
    const effect_table *table = &render_effects_globals.prerender;
    for (int32_t i = 0; i < table->count; ++i) runner(table->effects[i].procedure, table->effects[i].priority, view);
}

void run_postrasterization_effects(view_data *view)
{
    const effect_table *table = &render_effects_globals.postrasterization;
    for (int32_t i = 0; i < table->count; ++i) table->effects[i].procedure(view);
}

int32_t postrasterization_effect_count(void) { return render_effects_globals.postrasterization.count; }

void clear_render_effects(void) { memset(&render_effects_globals, 0, sizeof(render_effects_globals)); }
