// What the program knows of the machine it runs on.

#include "cseries/system_info.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

#include "cseries/cseries.h"

sys_info system_information;

static const char DEFAULT_USER_NAME[] = "player";

// Growth limit of the password-entry buffer when the system keeps asking for more.
static const size_t MAXIMUM_PASSWORD_BUFFER_SIZE = 1 << 20;

void initialize_system_information(void)
{
    system_information.type = _system_type_linux;
    system_information.windows_better_version = 0;
}

int64_t get_physical_memory_size(void)
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return 0;
    if ((int64_t)pages > INT64_MAX / (int64_t)page_size) return INT64_MAX;
    return (int64_t)pages * (int64_t)page_size;
}

// Copies `text` (its first `length` bytes) into `buffer`, cut to `size`,
// never in the middle of a UTF-8 character: names may be shown and sent on.
static void copy_name(char *buffer, size_t size, const char *text, size_t length)
{
    if (length >= size)
    {
        length = size - 1;
        while (length > 0 && ((uint8_t)text[length] & 0xC0) == 0x80) length -= 1;
    }
    memcpy(buffer, text, length);
    buffer[length] = 0;
}

void get_name_from_system(char *buffer, size_t size, int32_t which)
{
    if (!buffer || size == 0) return;

    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    size_t buffer_size = suggested > 0 ? (size_t)suggested : 1024;
    char *entry_buffer = nullptr;
    struct passwd entry;
    struct passwd *found = nullptr;
    for (;;)
    {
        char *grown = (char *)realloc(entry_buffer, buffer_size);
        if (!grown) break;
        entry_buffer = grown;
        const int error = getpwuid_r(getuid(), &entry, entry_buffer, buffer_size, &found);
        if (error != ERANGE || buffer_size >= MAXIMUM_PASSWORD_BUFFER_SIZE) break;
        found = nullptr;
        buffer_size *= 2;
    }

    const char *name = nullptr;
    size_t length = 0;
    if (found)
    {
        if (which == _system_name_full && found->pw_gecos)
        {
            name = found->pw_gecos;
            const char *comma = strchr(name, ',');
            length = comma ? (size_t)(comma - name) : strlen(name);
        }
        else if (which == _system_name_login && found->pw_name)
        {
            name = found->pw_name;
            length = strlen(name);
        }
    }
    if (!name || length == 0)
    {
        name = DEFAULT_USER_NAME;
        length = strlen(DEFAULT_USER_NAME);
    }
    copy_name(buffer, size, name, length);
    free(entry_buffer);
}
