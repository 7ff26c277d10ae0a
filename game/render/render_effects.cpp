// The renderer's effect tables.  See render_effects.h.

#include "render/render_effects.h"

#include "cseries/registration.h"

// Each list runs by descending priority, effects of one priority in the
// order registered.
static procedure_list<render_effect_procedure, MAXIMUM_PRERENDER_EFFECTS> prerender_effects("pre-render effect",
                                                                                             _by_descending_key);
static procedure_list<render_effect_procedure, MAXIMUM_POSTRASTERIZATION_EFFECTS>
    postrasterization_effects("post-rasterization effect", _by_descending_key);

bool register_prerender_effect_procedure(render_effect_procedure procedure, int16_t priority)
{
    return prerender_effects.add_at_start_up(procedure, priority);
}

bool register_postrasterization_effect_procedure(render_effect_procedure procedure, int16_t priority)
{
    return postrasterization_effects.add_at_start_up(procedure, priority);
}

void run_prerender_effects(view_data *view, prerender_effect_runner runner)
{
    for (int32_t i = 0; i < prerender_effects.count(); ++i)
        runner(prerender_effects.get(i), (int16_t)prerender_effects.key(i), view);
}

void run_postrasterization_effects(view_data *view)
{
    for (int32_t i = 0; i < postrasterization_effects.count(); ++i) postrasterization_effects.get(i)(view);
}

int32_t postrasterization_effect_count(void) { return postrasterization_effects.count(); }

void clear_render_effects(void)
{
    prerender_effects.clear();
    postrasterization_effects.clear();
}
