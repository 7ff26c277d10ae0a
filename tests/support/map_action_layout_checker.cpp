#include "support/map_action_layout_checker.h"

#include <cstdio>
#include <cstring>

#include "tag_files/data.h"

namespace {
map_action_layout_checker *watching;
map_action_lookup_checker *watching_lookups;
} // namespace

map_action_layout_checker::map_action_layout_checker()
    : expected(2 * PARAMETER_BUFFER_SIZE), actual(PARAMETER_BUFFER_SIZE), expected_offsets(MAXIMUM_MAP_ACTIONS_PER_MAP),
      actual_offsets(MAXIMUM_MAP_ACTIONS_PER_MAP), sizes(MAXIMUM_MAP_ACTIONS_PER_MAP)
{
    static const map_action_run_resize_observer observer = {&map_action_layout_checker::before,
                                                            &map_action_layout_checker::after};
    watching = this;
    previous = set_map_action_run_resize_observer(&observer);
}

map_action_layout_checker::~map_action_layout_checker()
{
    set_map_action_run_resize_observer(previous);
    watching = nullptr;
}

void map_action_layout_checker::before(int32_t, int32_t)
{
    map_action_layout_checker *self = watching;
    if (!self) return;
    copy_settled_map_action_parameters(self->expected.data(), self->expected_offsets.data());
    self->expected_used = get_map_action_parameter_buffer_size();
    for (int32_t index = 0; index < get_map_action_array()->count; index++)
    {
        const map_action *action = get_map_action(index);
        self->sizes[index] = action ? action->parameters_size : 0;
    }
}

void map_action_layout_checker::after(int32_t action_index, int32_t new_parameters_size)
{
    map_action_layout_checker *self = watching;
    if (!self) return;
    self->resizes++;
    if (self->after_resize) self->after_resize(self->resizes, action_index);
    self->compare(action_index, new_parameters_size);
}

void map_action_layout_checker::compare(int32_t action_index, int32_t new_size)
{
    // The move as the engine made it one edit at a time.
    uint8_t *buffer = expected.data();
    const int32_t used = expected_used, old_size = sizes[action_index], old_offset = expected_offsets[action_index];
    const int32_t kept = old_size < new_size ? old_size : new_size;
    memmove(buffer + used, buffer + old_offset, (size_t)kept);
    memset(buffer + used + kept, 0, (size_t)(new_size - kept));
    memmove(buffer + old_offset, buffer + old_offset + old_size, (size_t)(used + new_size - old_offset - old_size));
    const int32_t count = get_map_action_array()->count;
    for (int32_t index = 0; index < count; index++)
        if (index != action_index && expected_offsets[index] != NONE && expected_offsets[index] > old_offset)
            expected_offsets[index] -= old_size;
    expected_offsets[action_index] = used - old_size;
    expected_used = used + new_size - old_size;
    memset(buffer + expected_used, 0, (size_t)old_size);

    copy_settled_map_action_parameters(actual.data(), actual_offsets.data());
    char what[160] = "";
    if (get_map_action_parameter_buffer_size() != expected_used)
        snprintf(what, sizeof(what), "bytes in use %d, expected %d", get_map_action_parameter_buffer_size(), expected_used);
    for (int32_t index = 0; !*what && index < count; index++)
        if (expected_offsets[index] != NONE && actual_offsets[index] != expected_offsets[index])
            snprintf(what, sizeof(what), "slot %d offset %d, expected %d", index, actual_offsets[index],
                     expected_offsets[index]);
    for (int32_t i = 0; !*what && i < PARAMETER_BUFFER_SIZE; i++)
        if (actual[i] != expected[i])
            snprintf(what, sizeof(what), "byte %d is %d, expected %d", i, actual[i], expected[i]);
    if (!*what) return;
    if (mismatches++ == 0)
        first_mismatch = "resize " + std::to_string(resizes) + " of slot " + std::to_string(action_index) + " to " +
                         std::to_string(new_size) + ": " + what;
    // Go on from the engine's layout, so one fault is counted once.
    memcpy(expected.data(), actual.data(), PARAMETER_BUFFER_SIZE);
    expected_offsets = actual_offsets;
    expected_used = get_map_action_parameter_buffer_size();
}

map_action_lookup_checker::map_action_lookup_checker()
{
    static const map_action_lookup_observer observer = {&map_action_lookup_checker::compared};
    watching_lookups = this;
    previous = set_map_action_lookup_observer(&observer);
}

map_action_lookup_checker::~map_action_lookup_checker()
{
    set_map_action_lookup_observer(previous);
    watching_lookups = nullptr;
}

void map_action_lookup_checker::compared(int32_t action_index, const char *difference)
{
    map_action_lookup_checker *self = watching_lookups;
    if (!self) return;
    self->lookups++;
    if (!difference) return;
    if (self->mismatches++ == 0)
        self->first_mismatch = "lookup " + std::to_string(self->lookups) + " of slot " + std::to_string(action_index) +
                               ": " + difference;
}
