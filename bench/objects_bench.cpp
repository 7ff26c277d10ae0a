// Cost of making an object while many others live: the identifier it gets
// must be one no live object holds, and that check must not grow with the
// number of live objects.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "objects.h"

// Starts the object array (once) and empties it; no mesh, so nothing is linked
// into cell chains and only the array's own cost is measured.
static void empty_object_world(void)
{
    static bool started = false;
    if (!started && !initialize_objects())
    {
        fprintf(stderr, "objects_bench: the object array cannot be made\n");
        exit(1);
    }
    started = true;
    initialize_objects_for_new_map();
}

static int32_t make_object(void)
{
    new_object_data data;
    memset(&data, 0, sizeof(data));
    data.type = NONE;
    data.owner = NONE;
    data.owner_index = NONE;
    data.scale = SHORT_FIXED_ONE;
    data.collection_index = NONE;
    data.color_table_index = NONE;
    return new_object(&data);
}

// One object made and deleted per iteration while `state.range(0)` others
// live.  The sequence of identifiers runs on through the iterations, so it
// wraps past the live objects' values as it would in a long game.
static void bench_new_object_among_live_objects(benchmark::State &state)
{
    empty_object_world();
    const int32_t live = (int32_t)state.range(0);
    for (int32_t i = 0; i < live; ++i)
    {
        if (make_object() == NONE)
        {
            state.SkipWithError("the object array filled before the live count was reached");
            return;
        }
    }
    for (auto _ : state)
    {
        const int32_t index = make_object();
        if (index == NONE)
        {
            state.SkipWithError("new_object failed");
            break;
        }
        delete_object(index);
    }
    state.SetItemsProcessed(state.iterations());
    initialize_objects_for_new_map();
}
BENCHMARK(bench_new_object_among_live_objects)->Arg(400)->Arg(8000)->Arg(32000);
