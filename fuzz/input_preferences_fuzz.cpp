// The "input" record as read from disk, on arbitrary bytes: after the swap,
// the verification and the selector derivation, every set must hold codes the
// keyboard task may index with, and a second verification must change nothing.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "input/input_definitions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    input_definitions_data record;
    memset(&record, 0, sizeof(record));
    memcpy(&record, data, size < sizeof(record) ? size : sizeof(record));
    if (!byte_swap_data("input", &record, sizeof(record), 1, input_definitions_byte_swapping_data)) abort();
    if (!verify_input_preferences(&record)) abort();
    derive_input_selectors_from_flags(&record);

    if (record.last_selected_set < 0 || record.last_selected_set >= NUMBER_OF_INPUT_SETS) abort();
    for (const input_definition &set : record.sets)
    {
        if (set.caps_lock_action >= NUMBER_OF_CAPS_LOCK_ACTIONS) abort();
        if (set.name[MAXIMUM_INPUT_DEFINITION_NAME_LENGTH] != 0) abort();
        for (const control_definition &control : set.controls)
        {
            if (control.device == _input_device_keyboard &&
                (control.code < 0 || control.code >= NUMBER_OF_KEYBOARD_DEVICE_CODES))
                abort();
            if (control.device == _input_device_mouse &&
                (control.code < 0 || control.code >= NUMBER_OF_MOUSE_DEVICE_CODES))
                abort();
            if (control.device < 0 || control.device >= NUMBER_OF_INPUT_DEVICES) abort();
        }
    }
    input_definitions_data again = record;
    verify_input_preferences(&again);
    derive_input_selectors_from_flags(&again);
    if (memcmp(&again, &record, sizeof(record)) != 0) abort();
    return 0;
}
