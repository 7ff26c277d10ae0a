// Arbitrary bytes as a power-user file: parse them, look keys up and read a
// section of every value type.  Nothing may crash or touch memory outside the
// buffers.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cseries/cseries.h"
#include "iniparser3.0b/iniparser.h"
#include "iniparser3.0b/inifile.h"

namespace {

struct fuzz_record
{
    bool flag;
    int32_t number;
    float single;
    double real;
    char text[5];
    char list[3][4];
    int32_t list_count;
};

const fuzz_record fuzz_defaults = {true, 1, 1.0f, 1.0, "d", {"a", "b", "c"}, 3};
fuzz_record fuzz_target;

const inifile_entry fuzz_entries[] = {
    {"Flag", _inifile_boolean, (int32_t)offsetof(fuzz_record, flag), 0, 0, 0},
    {"Number", _inifile_integer, (int32_t)offsetof(fuzz_record, number), 0, 0, 0},
    {"Single", _inifile_float, (int32_t)offsetof(fuzz_record, single), 0, 0, 0},
    {"Real", _inifile_double, (int32_t)offsetof(fuzz_record, real), 0, 0, 0},
    {"Text", _inifile_string, (int32_t)offsetof(fuzz_record, text), (int32_t)sizeof(fuzz_target.text), 0, 0},
    {"List", _inifile_string_list, (int32_t)offsetof(fuzz_record, list), 4, 3,
     (int32_t)offsetof(fuzz_record, list_count)},
    {nullptr, 0, 0, 0, 0, 0},
};

const inifile_section fuzz_section = {
    "Fuzz.Section", nullptr, nullptr, fuzz_entries, &fuzz_target, &fuzz_defaults, sizeof(fuzz_record)};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ini_file file;
    if (ini_parse(&file, (const char *)data, size, "fuzz"))
    {
        for (int32_t i = 0; i < file.section_count; i++)
        {
            const char *values[4];
            int32_t count = ini_get_values(&file, i, "List", values, 4);
            for (int32_t j = 0; j < count && j < 4; j++) (void)strlen(values[j]);
            const char *value = ini_get_value(&file, i, "Text");
            if (value) (void)strlen(value);
        }
        (void)ini_key_present(&file, ini_find_section(&file, "Fuzz.Section"), "Flag");
    }
    ini_dispose(&file);

    load_poweruser_settings_from_buffer((const char *)data, size);
    inifile_readsec(&fuzz_section);
    if (fuzz_target.text[sizeof(fuzz_target.text) - 1] != 0) __builtin_trap();
    if (fuzz_target.list_count < 0 || fuzz_target.list_count > 3) __builtin_trap();
    for (int32_t i = 0; i < fuzz_target.list_count; i++)
    {
        if (!memchr(fuzz_target.list[i], 0, sizeof(fuzz_target.list[i]))) __builtin_trap();
    }
    (void)inifile_key_present(&fuzz_section, "List");
    dispose_poweruser_settings();
    return 0;
}
