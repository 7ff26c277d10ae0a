// The program's entry point.

#include <cstdio>
#include <cstring>

#include "version.h"

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "--version") == 0)
    {
        printf("%s\n", VESK_VERSION_STRING);
        return 0;
    }
    fprintf(stderr, "%s: only --version is available in this build.\n", VESK_VERSION_STRING);
    return 0;
}
