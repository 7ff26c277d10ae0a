// The power-user settings file and the reading of its sections into records.

#include "iniparser3.0b/inifile.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "cseries/cseries.h"
#include "cseries/files.h"
#include "iniparser3.0b/iniparser.h"

#define POWERUSER_FILE_PATH POWERUSER_DIRECTORY_NAME "/" POWERUSER_FILE_NAME

static struct inifile_globals
{
    ini_file file; // empty when nothing is loaded
} inifile_globals;

// ---- converting texts -----------------------------------------------------

static bool parse_boolean(const char *text, bool *result)
{
    static const char *const true_words[] = {"1", "yes", "true", "on"};
    static const char *const false_words[] = {"0", "no", "false", "off"};
    for (size_t i = 0; i < NUMBER_OF(true_words); i++)
    {
        if (strcasecmp(text, true_words[i]) == 0)
        {
            *result = true;
            return true;
        }
        if (strcasecmp(text, false_words[i]) == 0)
        {
            *result = false;
            return true;
        }
    }
    return false;
}

static int32_t digit_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// Decimal, or hexadecimal after "0x"; an optional sign in front of either.
// "010" is ten: nobody writing a power-user file means octal.
static bool parse_integer(const char *text, int32_t *result)
{
    const char *p = text;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int32_t base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
    {
        base = 16;
        p += 2;
    }
    if (!*p) return false;
    // The magnitude stops growing once it is out of range, so it never overflows.
    const int64_t limit = negative ? (int64_t)INT32_MAX + 1 : (int64_t)INT32_MAX;
    int64_t magnitude = 0;
    for (; *p; p++)
    {
        int32_t digit = digit_value(*p);
        if (digit >= base) return false;
        magnitude = magnitude * base + digit;
        if (magnitude > limit) return false;
    }
    *result = (int32_t)(negative ? -magnitude : magnitude);
    return true;
}

// A finite decimal number that uses the whole text.
static bool parse_real(const char *text, double *result)
{
    const char *p = (*text == '+' || *text == '-') ? text + 1 : text;
    if (!((*p >= '0' && *p <= '9') || (*p == '.' && p[1] >= '0' && p[1] <= '9'))) return false;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) return false;
    // An overflow comes back as an infinity; an underflow as a value near 0, which is kept.
    char *end = nullptr;
    double value = strtod(text, &end);
    if (end == text || *end || !std::isfinite(value)) return false;
    *result = value;
    return true;
}

// ---- reading one entry ------------------------------------------------------

struct inifile_read_context
{
    const inifile_section *section;
    int32_t section_index;
    uint8_t *target;
};

static void log_refused_value(const inifile_read_context *context, const inifile_entry *entry,
                              const char *value, const char *what)
{
    log_message(nullptr, -1, "%s: [%s] %s = \"%.64s\" is not %s; default kept",
                POWERUSER_FILE_NAME, context->section->name, entry->key, value, what);
}

// Copies `value` into a string field of `capacity` bytes; true when it fitted.
static bool copy_string_field(uint8_t *field, int32_t capacity, const char *value)
{
    size_t length = strlen(value);
    bool fits = length < (size_t)capacity;
    if (!fits) length = (size_t)capacity - 1;
    memcpy(field, value, length);
    field[length] = 0;
    return fits;
}

// Stores `size` bytes of `result` in the entry's field when the text was
// `parsed`; otherwise logs the refusal and leaves the field alone.
static bool store_parsed_value(const inifile_read_context *context, const inifile_entry *entry,
                               const char *value, bool parsed, const void *result, size_t size,
                               const char *what)
{
    if (!parsed)
    {
        log_refused_value(context, entry, value, what);
        return false;
    }
    memcpy(context->target + entry->offset, result, size);
    return true;
}

static bool read_boolean(const inifile_read_context *context, const inifile_entry *entry, const char *value)
{
    bool result = false;
    return store_parsed_value(context, entry, value, parse_boolean(value, &result), &result, sizeof(result),
                              "a boolean (1, 0, yes, no, true, false, on, off)");
}

static bool read_integer(const inifile_read_context *context, const inifile_entry *entry, const char *value)
{
    int32_t result = 0;
    return store_parsed_value(context, entry, value, parse_integer(value, &result), &result, sizeof(result),
                              "a 32-bit integer");
}

static bool read_float(const inifile_read_context *context, const inifile_entry *entry, const char *value)
{
    double result = 0;
    const bool parsed = parse_real(value, &result) && fabs(result) <= FLT_MAX;
    const float single = parsed ? (float)result : 0.0f; // out of range, the cast is undefined
    return store_parsed_value(context, entry, value, parsed, &single, sizeof(single), "a number");
}

static bool read_double(const inifile_read_context *context, const inifile_entry *entry, const char *value)
{
    double result = 0;
    return store_parsed_value(context, entry, value, parse_real(value, &result), &result, sizeof(result),
                              "a number");
}

static bool read_string(const inifile_read_context *context, const inifile_entry *entry, const char *value)
{
    if (!copy_string_field(context->target + entry->offset, entry->capacity, value))
    {
        log_message(nullptr, -1, "%s: [%s] %s is longer than %d characters; cut",
                    POWERUSER_FILE_NAME, context->section->name, entry->key, entry->capacity - 1);
    }
    return true;
}

static bool read_string_list(const inifile_read_context *context, const inifile_entry *entry, const char *)
{
    const ini_file *file = &inifile_globals.file;
    const char *first_values[16];
    const char **values = first_values;
    int32_t total = ini_get_values(file, context->section_index, entry->key, nullptr, 0);
    int32_t count = total < entry->maximum_count ? total : entry->maximum_count;
    if (count > (int32_t)NUMBER_OF(first_values))
    {
        values = (const char **)malloc((size_t)count * sizeof(*values));
        if (!values)
        {
            log_message(nullptr, -1, "%s: [%s] %s: out of memory; default kept",
                        POWERUSER_FILE_NAME, context->section->name, entry->key);
            return false;
        }
    }
    ini_get_values(file, context->section_index, entry->key, values, count);
    bool all_fitted = true;
    for (int32_t i = 0; i < count; i++)
    {
        uint8_t *field = context->target + entry->offset + (size_t)i * (size_t)entry->capacity;
        all_fitted &= copy_string_field(field, entry->capacity, values[i]);
    }
    memcpy(context->target + entry->count_offset, &count, sizeof(count));
    if (values != first_values) free(values);
    if (!all_fitted)
    {
        log_message(nullptr, -1, "%s: [%s] %s: values longer than %d characters were cut",
                    POWERUSER_FILE_NAME, context->section->name, entry->key, entry->capacity - 1);
    }
    if (total > count)
    {
        log_message(nullptr, -1, "%s: [%s] %s: only the first %d of %d values are used",
                    POWERUSER_FILE_NAME, context->section->name, entry->key, count, total);
    }
    return true;
}

typedef bool (*inifile_read_procedure)(const inifile_read_context *context,
                                       const inifile_entry *entry, const char *last_value);

struct inifile_type_definition
{
    const char *name;
    int32_t field_size; // 0: taken from the entry's capacity
    inifile_read_procedure read;
};

static const inifile_type_definition inifile_type_definitions[NUMBER_OF_INIFILE_VALUE_TYPES] = {
    {"boolean", sizeof(bool), read_boolean},
    {"integer", sizeof(int32_t), read_integer},
    {"float", sizeof(float), read_float},
    {"double", sizeof(double), read_double},
    {"string", 0, read_string},
    {"string list", 0, read_string_list},
};

// True when every byte the entry writes lies inside the target record.
static bool entry_fits_record(const inifile_entry *entry, int32_t record_size)
{
    const inifile_type_definition *definition = &inifile_type_definitions[entry->type];
    int64_t field_size = definition->field_size;
    if (entry->type == _inifile_string) field_size = entry->capacity;
    if (entry->type == _inifile_string_list)
    {
        if (entry->maximum_count < 0 || entry->count_offset < 0 ||
            (int64_t)entry->count_offset + (int64_t)sizeof(int32_t) > record_size)
        {
            return false;
        }
        field_size = (int64_t)entry->capacity * entry->maximum_count;
    }
    if (definition->field_size == 0 && entry->capacity < 1) return false;
    return entry->offset >= 0 && (int64_t)entry->offset + field_size <= record_size;
}

// ---- the public surface -----------------------------------------------------

bool load_poweruser_settings_from_buffer(const char *data, size_t size)
{
    dispose_poweruser_settings();
    return ini_parse(&inifile_globals.file, data, size, POWERUSER_FILE_NAME);
}

bool load_poweruser_settings(void)
{
    dispose_poweruser_settings();
    file_reference file;
    file_reference_create(&file, _file_reference_application_relative);
    file_reference_add_directory(&file, POWERUSER_DIRECTORY_NAME);
    file_reference_set_name(&file, POWERUSER_FILE_NAME);
    // A missing file is quiet; one that cannot be opened is reported by file_open.
    if (!file_open(&file, _permission_read_flag)) return false;

    // The size is checked before reading, so a huge file is refused unread.
    const int64_t size = file_get_size(&file);
    char *data = nullptr;
    bool ok = size >= 0 && size <= MAXIMUM_INI_BUFFER_SIZE;
    if (size > MAXIMUM_INI_BUFFER_SIZE)
    {
        log_message(nullptr, -1, "%s: too large (%lld bytes); defaults used", POWERUSER_FILE_PATH,
                    (long long)size);
    }
    if (ok)
    {
        data = (char *)malloc((size_t)size + 1);
        ok = data && file_read_from_position(&file, 0, (int32_t)size, data);
    }
    file_close(&file);
    if (ok) ok = load_poweruser_settings_from_buffer(data, (size_t)size);
    free(data);
    return ok;
}

void dispose_poweruser_settings(void)
{
    ini_dispose(&inifile_globals.file);
}

int32_t inifile_readsec(const inifile_section *section)
{
    if (!section || !section->name || !section->entries || !section->target || section->size <= 0)
    {
        log_message(nullptr, -1, "inifile_readsec: unusable section description %s",
                    section && section->name ? section->name : "(unnamed)");
        return NONE;
    }
    if (section->defaults) memmove(section->target, section->defaults, (size_t)section->size);
    if (section->default_procedure) section->default_procedure(section->target);

    inifile_read_context context;
    context.section = section;
    context.section_index = ini_find_section(&inifile_globals.file, section->name);
    context.target = (uint8_t *)section->target;

    int32_t read_count = 0;
    for (const inifile_entry *entry = section->entries; entry->key; entry++)
    {
        if (entry->type < 0 || entry->type >= NUMBER_OF_INIFILE_VALUE_TYPES || !entry_fits_record(entry, section->size))
        {
            log_message(nullptr, -1, "inifile_readsec: [%s] %s: bad entry (type %d, offset %d); skipped",
                        section->name, entry->key, entry->type, entry->offset);
            continue;
        }
        const char *value = ini_get_value(&inifile_globals.file, context.section_index, entry->key);
        if (!value) continue;
        if (inifile_type_definitions[entry->type].read(&context, entry, value)) read_count++;
    }

    if (section->verify_procedure) section->verify_procedure(section->target);
    return read_count;
}

bool inifile_key_present(const inifile_section *section, const char *key)
{
    if (!section || !section->name) return false;
    int32_t section_index = ini_find_section(&inifile_globals.file, section->name);
    return ini_key_present(&inifile_globals.file, section_index, key);
}

#undef POWERUSER_FILE_PATH
