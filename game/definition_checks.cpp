// Repairs of definition fields.  See definition_checks.h.

#include "definition_checks.h"

#include "cseries/cseries.h"
#include "cseries/errors.h"
#include "cseries/log.h"

void check_flags_32(uint32_t *flags, uint32_t mask, const char *name, const char *label)
{
    if (!(*flags & ~mask)) return;
    log_message(__FILE__, __LINE__, "definition '%s': unknown %s 0x%08x cleared", name, label,
                (unsigned)(*flags & ~mask));
    *flags &= mask;
}

void check_flags_16(uint16_t *flags, uint16_t mask, const char *name, const char *label)
{
    uint32_t wide = *flags;
    check_flags_32(&wide, mask, name, label);
    *flags = (uint16_t)wide;
}

void check_count(int16_t *count, int16_t maximum, const char *name, const char *label)
{
    if (*count >= 0 && *count <= maximum) return;
    const int16_t repaired = *count < 0 ? 0 : maximum;
    log_message(__FILE__, __LINE__, "definition '%s': %s %d outside 0-%d, taken as %d", name, label, (int)*count,
                (int)maximum, (int)repaired);
    *count = repaired;
}

void check_not_negative(int16_t *value, const char *name, const char *label)
{
    if (*value >= 0) return;
    log_message(__FILE__, __LINE__, "definition '%s': negative %s %d taken as 0", name, label, (int)*value);
    *value = 0;
}

void check_sequence_index(int16_t *sequence, const char *name, const char *label)
{
    if (*sequence >= NONE) return;
    log_message(__FILE__, __LINE__, "definition '%s': %s index %d taken as none", name, label, (int)*sequence);
    *sequence = NONE;
}

bool refuse_definition_field(const char *name, const char *field, const char *what)
{
    ERROR_MESSAGE(_error_data_corrupted, "definition '%s' refused: %s %s", name, field, what);
    return false;
}
