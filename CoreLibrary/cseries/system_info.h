#pragma once
// What the program knows of the machine it runs on.

#include <cstddef>
#include <cstdint>

enum system_type
{
    _system_type_winNT = 5,
    _system_type_linux = 6,
};

enum platform_type
{
    _platform_is_macintosh_classic = 100,
    _platform_is_macintosh_modern = 101,
    _platform_is_windows_classic = 200,
    _platform_is_windows_modern = 201,
    _platform_is_linux = 300,
};

struct sys_info
{
    int16_t type;                   // _system_type_linux here
    uint32_t windows_better_version; // 0 on this platform
};

extern sys_info system_information;

// Fills `system_information`.  Call once at start-up.
void initialize_system_information(void);

// Bytes of physical memory (64-bit: machines have more than 2 GiB; shift
// right by 20 for megabytes).  0 when the system does not say.
int64_t get_physical_memory_size(void);

enum
{
    _system_name_full = 0,  // the full name of the password database, up to its first comma
    _system_name_login = 1, // the login name
};

// Writes the name of the user who runs the program into `buffer`, cut to
// `size` bytes with its terminator (never inside a UTF-8 character); "player"
// when the user has no password entry, the chosen name is empty or `which` is
// unknown.  Does nothing for a null buffer or a size of 0.
void get_name_from_system(char *buffer, size_t size, int32_t which);
