# The game's static libraries, one or more per subsystem, declared in building
# order.  A library takes whole directories, single modules (a module is
# "dir/name": dir/name.cpp and dir/name.h), or both; a module named by a later
# library leaves the directory library it would otherwise fall into, so
# modules of several subsystems can share a directory.  Every source file
# belongs to exactly one library: scripts/check_layers.py fails on a file no
# library takes, on an include of a later layer's header, on an include of a
# library not linked, and on a layer table in docs/architecture.md that
# differs from these declarations.
#
#   vesk_library(<name> LAYER <layer>
#                [DIRECTORIES <dir>...] [MODULES <dir/name>...]
#                [LINKS <earlier vesk library>...] [EXTERNAL <system library>...])
#
# LAYER is the subsystem number (1-13); `all` for the library that joins every
# subsystem; `tools` for code only tools, tests and benchmarks link.  LINKS
# names only libraries declared before it, of the same or an earlier layer;
# anything else stops the configuration.

set(VESK_LAYER_MANIFEST ${CMAKE_BINARY_DIR}/layers.txt)

# The game's libraries and the tools compile as unity builds (CMake's
# UNITY_BUILD), in every configuration, a developer's own included, so that a
# clash of two files' names shows in the first build rather than only under
# `make test`.  About two thirds of compiling one of their files alone is
# parsing the standard and the game's headers, which a unit of several files
# parses once.  VESK_UNITY_BATCH_SIZE files (in the order CMake lists them) make
# one unit: measured, it keeps most of the saving of whole libraries while a
# change to one file recompiles only its unit.  So that the files of a unit
# never see each other's names, a library's or tool's file-local helpers and
# constants are named apart from its other files' (a helper written the same
# in several files lives once in a header), and a file #undefs at its end
# the macros it defines (scripts/check_layers.py checks that).  A file with
# compile settings of its own stays out of the units (SKIP_UNITY_BUILD_INCLUSION),
# with the reason beside it.
#
# Under AddressSanitizer (a Debug build otherwise at -O0) the game's own code
# is optimised a little (-O1, which the sanitizer is made for): the suite's
# longest cases replay and damage whole games in their process, and those run
# twice as fast; the suite takes a tenth less processor time for a tenth more
# in building it.  The test code keeps -O0 (tests/CMakeLists.txt): it is
# most of the build and little of the run.  (The threaded tests' build gains
# nothing from it.)
set(VESK_UNITY_BATCH_SIZE 16 CACHE STRING "Files per unity unit of the game's libraries and tools")
function(vesk_game_code target)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${VESK_UNITY_BATCH_SIZE})
    if(VESK_SANITIZE MATCHES "address")
        target_compile_options(${target} PRIVATE -O1)
    endif()
endfunction()
set_property(GLOBAL PROPERTY VESK_LIBRARIES "")
set_property(GLOBAL PROPERTY VESK_CLAIMED_MODULES "")

# A layer's place in the building order.
function(vesk_layer_rank layer out)
    if(layer MATCHES "^([1-9]|1[0-3])$")
        set(${out} ${layer} PARENT_SCOPE)
    elseif(layer STREQUAL "all")
        set(${out} 100 PARENT_SCOPE)
    elseif(layer STREQUAL "tools")
        set(${out} 200 PARENT_SCOPE)
    else()
        message(FATAL_ERROR "vesk_library: unknown layer '${layer}' (1-13, all or tools)")
    endif()
endfunction()

# The existing files of module `module` (relative to the source root).
function(vesk_module_files module out)
    set(files "")
    foreach(extension .cpp .h)
        if(EXISTS ${CMAKE_SOURCE_DIR}/${module}${extension})
            list(APPEND files ${CMAKE_SOURCE_DIR}/${module}${extension})
        endif()
    endforeach()
    if(NOT files)
        message(FATAL_ERROR "vesk_library: module '${module}' has neither ${module}.cpp nor ${module}.h")
    endif()
    set(${out} ${files} PARENT_SCOPE)
endfunction()

function(vesk_library name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "LAYER" "DIRECTORIES;MODULES;LINKS;EXTERNAL")
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "vesk_library(${name}): unexpected '${arg_UNPARSED_ARGUMENTS}'")
    endif()
    vesk_layer_rank("${arg_LAYER}" rank)
    get_property(libraries GLOBAL PROPERTY VESK_LIBRARIES)
    foreach(link ${arg_LINKS})
        if(NOT link IN_LIST libraries)
            message(FATAL_ERROR "vesk_library(${name}): links '${link}', which is not a library declared before it")
        endif()
        get_target_property(link_rank ${link} VESK_LAYER_RANK)
        if(link_rank GREATER rank)
            message(FATAL_ERROR "vesk_library(${name}): layer ${arg_LAYER} cannot link '${link}' of a later layer")
        endif()
    endforeach()

    get_property(claimed GLOBAL PROPERTY VESK_CLAIMED_MODULES)
    set(sources "")
    foreach(dir ${arg_DIRECTORIES})
        file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_SOURCE_DIR}/${dir}/*.h)
        list(FILTER found EXCLUDE REGEX ".*/main\\.cpp$")
        foreach(file ${found})
            if(NOT file IN_LIST claimed)
                list(APPEND sources ${file})
            endif()
        endforeach()
    endforeach()
    foreach(module ${arg_MODULES})
        vesk_module_files(${module} files)
        foreach(file ${files})
            if(file IN_LIST claimed)
                message(FATAL_ERROR "vesk_library(${name}): ${file} already belongs to another library")
            endif()
            # The module leaves the directory library that took it.
            foreach(earlier ${libraries})
                get_target_property(earlier_sources ${earlier} SOURCES)
                if(file IN_LIST earlier_sources)
                    list(REMOVE_ITEM earlier_sources ${file})
                    set_property(TARGET ${earlier} PROPERTY SOURCES ${earlier_sources})
                endif()
            endforeach()
            list(APPEND claimed ${file})
            list(APPEND sources ${file})
        endforeach()
    endforeach()
    set_property(GLOBAL PROPERTY VESK_CLAIMED_MODULES ${claimed})

    add_library(${name} STATIC ${sources} ${CMAKE_SOURCE_DIR}/cmake/empty.cpp)
    target_include_directories(${name} PUBLIC
        ${CMAKE_SOURCE_DIR}/CoreLibrary ${CMAKE_SOURCE_DIR}/game ${CMAKE_SOURCE_DIR}
        ${CMAKE_BINARY_DIR}/generated)
    # Tools, tests and benchmarks include the shared tool code by its own
    # name ("determinism_harness.h").
    foreach(dir ${arg_DIRECTORIES})
        if(dir MATCHES "^tools/")
            target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/${dir})
        endif()
    endforeach()
    target_link_libraries(${name} PUBLIC ${arg_LINKS} ${arg_EXTERNAL})
    vesk_game_code(${name})
    set_target_properties(${name} PROPERTIES
        VESK_LAYER "${arg_LAYER}" VESK_LAYER_RANK ${rank}
        VESK_DIRECTORIES "${arg_DIRECTORIES}" VESK_MODULES "${arg_MODULES}")
    set_property(GLOBAL APPEND PROPERTY VESK_LIBRARIES ${name})
endfunction()

# An executable of the game itself (not a tool or test): recorded so that the
# layer check knows its files and what it links.
function(vesk_program name layer)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "SOURCES;LINKS")
    vesk_layer_rank("${layer}" rank)
    add_executable(${name} ${arg_SOURCES})
    target_link_libraries(${name} PRIVATE ${arg_LINKS})
    set_target_properties(${name} PROPERTIES VESK_LAYER "${layer}")
    set_property(GLOBAL APPEND PROPERTY VESK_PROGRAMS ${name})
endfunction()

# The game's libraries `target` links, however they were added (declared, or
# by a later target_link_libraries), so the check sees every link.
function(vesk_linked_libraries target out)
    get_property(libraries GLOBAL PROPERTY VESK_LIBRARIES)
    get_target_property(direct ${target} LINK_LIBRARIES)
    get_target_property(interface ${target} INTERFACE_LINK_LIBRARIES)
    set(links "")
    foreach(link ${direct} ${interface})
        if(link IN_LIST libraries AND NOT link IN_LIST links)
            list(APPEND links ${link})
        endif()
    endforeach()
    set(${out} ${links} PARENT_SCOPE)
endfunction()

# Writes what the layer check reads: one line per library, program and file.
#   library <name> <layer> <links...>
#   declares <name> <directory/ or module>
#   program <name> <layer> <links...>
#   file <library or program> <path relative to the source root>
function(vesk_write_layer_manifest)
    get_property(libraries GLOBAL PROPERTY VESK_LIBRARIES)
    set(text "")
    foreach(name ${libraries})
        get_target_property(layer ${name} VESK_LAYER)
        vesk_linked_libraries(${name} links)
        get_target_property(dirs ${name} VESK_DIRECTORIES)
        get_target_property(modules ${name} VESK_MODULES)
        get_target_property(sources ${name} SOURCES)
        foreach(property links dirs modules)
            if(NOT ${property})
                set(${property} "")
            endif()
        endforeach()
        list(JOIN links " " links)
        string(APPEND text "library ${name} ${layer} ${links}\n")
        foreach(dir ${dirs})
            string(APPEND text "declares ${name} ${dir}/\n")
        endforeach()
        foreach(module ${modules})
            string(APPEND text "declares ${name} ${module}\n")
        endforeach()
        foreach(file ${sources})
            file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} ${file})
            if(NOT relative STREQUAL "cmake/empty.cpp")
                string(APPEND text "file ${name} ${relative}\n")
            endif()
        endforeach()
    endforeach()
    get_property(programs GLOBAL PROPERTY VESK_PROGRAMS)
    foreach(name ${programs})
        get_target_property(layer ${name} VESK_LAYER)
        vesk_linked_libraries(${name} links)
        get_target_property(sources ${name} SOURCES)
        list(JOIN links " " links)
        string(APPEND text "program ${name} ${layer} ${links}\n")
        foreach(file ${sources})
            file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/${file})
            string(APPEND text "file ${name} ${relative}\n")
        endforeach()
    endforeach()
    file(WRITE ${VESK_LAYER_MANIFEST}.new "${text}")
    file(COPY_FILE ${VESK_LAYER_MANIFEST}.new ${VESK_LAYER_MANIFEST} ONLY_IF_DIFFERENT)
endfunction()
