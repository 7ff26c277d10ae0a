// Byte swapping driven by layout descriptions: a description is checked once
// per call, then interpreted over each record.  Every load and store goes
// through memcpy, so fields may sit at any offset.

#include "cseries/byte_swapping.h"

#include <cstdio>
#include <cstring>

#include "cseries/log.h"

static inline void swap_16_at(uint8_t *p)
{
    uint16_t value;
    memcpy(&value, p, sizeof(value));
    value = __builtin_bswap16(value);
    memcpy(p, &value, sizeof(value));
}

static inline void swap_32_at(uint8_t *p)
{
    uint32_t value;
    memcpy(&value, p, sizeof(value));
    value = __builtin_bswap32(value);
    memcpy(p, &value, sizeof(value));
}

// Logs a refused conversion as a vassert line naming the record.
static void report_refusal(const char *file, int32_t line, const char *expression, const char *label,
                           const char *reason)
{
    char text[256];
    snprintf(text, sizeof(text), "%s: %s", label ? label : "(unnamed record)", reason);
    assertion_failed(file, line, _assertion_vassert, expression, text);
}
#define REFUSE(expression, label, reason) report_refusal(__FILE__, __LINE__, (expression), (label), (reason))

// Walks the group that starts at codes[*index] (its _begin_bs_array); on
// success *index is past its _end_bs_array and *size holds the bytes walked.
static bool walk_group(const byte_swap_code *codes, int32_t *index, int32_t depth, int64_t *size)
{
    enum { SIZE_LIMIT = INT32_MAX };
    if (depth >= MAXIMUM_BYTE_SWAP_DEPTH) return false;
    if (*index + 1 >= MAXIMUM_BYTE_SWAP_CODES || codes[*index] != _begin_bs_array) return false;
    const int32_t count = codes[*index + 1];
    if (count < 0) return false;
    *index += 2;

    int64_t fields_size = 0;
    for (;;)
    {
        if (*index >= MAXIMUM_BYTE_SWAP_CODES) return false;
        const byte_swap_code code = codes[*index];
        if (code == _end_bs_array)
        {
            (*index)++;
            break;
        }
        if (code == _begin_bs_array)
        {
            int64_t inner = 0;
            if (!walk_group(codes, index, depth + 1, &inner)) return false;
            fields_size += inner;
        }
        else if (code == _2byte || code == _4byte)
        {
            fields_size += -code;
            (*index)++;
        }
        else if (code > 0)
        {
            fields_size += code;
            (*index)++;
        }
        else
        {
            return false;
        }
        if (fields_size >= SIZE_LIMIT) return false;
    }
    *size = fields_size * count;
    return *size < SIZE_LIMIT;
}

int32_t byte_swap_description_size(const byte_swap_code *codes)
{
    if (!codes) return -1;
    int32_t index = 0;
    int64_t size = 0;
    if (!walk_group(codes, &index, 0, &size)) return -1;
    return (int32_t)size;
}

// Converts the fields of the group at `codes` (a checked description) at
// *cursor and returns the code after its end.  With `apply` false (inside a
// group of count 0) nothing is read or moved.
static const byte_swap_code *swap_group(const byte_swap_code *codes, uint8_t **cursor, bool apply)
{
    const int32_t count = codes[1];
    const byte_swap_code *const fields = codes + 2;
    const bool active = apply && count > 0;
    const int32_t passes = count > 0 ? count : 1;
    const byte_swap_code *code = fields;
    for (int32_t pass = 0; pass < passes; pass++)
    {
        code = fields;
        while (*code != _end_bs_array)
        {
            switch (*code)
            {
            case _begin_bs_array:
                code = swap_group(code, cursor, active);
                continue;
            case _2byte:
                if (active)
                {
                    swap_16_at(*cursor);
                    *cursor += 2;
                }
                break;
            case _4byte:
                if (active)
                {
                    swap_32_at(*cursor);
                    *cursor += 4;
                }
                break;
            default: // a run of bytes left as they are
                if (active) *cursor += *code;
                break;
            }
            code++;
        }
    }
    return code + 1;
}

bool byte_swap_data(const char *label, void *data, int32_t record_size, int32_t record_count,
                    const byte_swap_code *codes)
{
    if (!codes)
    {
        REFUSE("codes", label, "no byte-swap description");
        return false;
    }
    const int32_t walked = byte_swap_description_size(codes);
    if (walked < 0)
    {
        REFUSE("byte_swap_description_size(codes) >= 0", label, "malformed byte-swap description");
        return false;
    }
    if (walked != record_size)
    {
        char reason[128];
        snprintf(reason, sizeof(reason), "the description walks %d bytes of a %d-byte record", (int)walked,
                 (int)record_size);
        REFUSE("walked size == record size", label, reason);
        return false;
    }
    if (record_count < 0 || (record_count > 0 && !data))
    {
        REFUSE("record_count >= 0 && data", label, "bad record count or no data");
        return false;
    }

    uint8_t *cursor = (uint8_t *)data;
    for (int32_t record = 0; record < record_count; record++)
    {
        uint8_t *const start = cursor;
        swap_group(codes, &cursor, true);
        cursor = start + record_size;
    }
    return true;
}

bool byte_swap_memory(const char *label, void *data, int32_t count, int16_t code)
{
    if (code != _2byte && code != _4byte)
    {
        REFUSE("code == _2byte || code == _4byte", label, "byte_swap_memory takes -2 or -4");
        return false;
    }
    if (count < 0 || (count > 0 && !data))
    {
        REFUSE("count >= 0 && data", label, "bad item count or no data");
        return false;
    }
    uint8_t *p = (uint8_t *)data;
    if (code == _2byte)
        for (int32_t i = 0; i < count; i++, p += 2) swap_16_at(p);
    else
        for (int32_t i = 0; i < count; i++, p += 4) swap_32_at(p);
    return true;
}

#undef REFUSE
