# The program's libraries and the rules between them, in one place: the build, the link check
# below and the include check (check_includes.cmake) all read them.

# The layers' folders, lowest first. A layer may link and include only the layers before it.
# `platform` is two libraries: the base, then the widgets library over it.
set(TLM_LAYER_FOLDERS platform core diagnostics ui/warnings scan ui/main app)

# Files of platform/ that belong to the widgets library, by name; every other file of platform/
# is the base's. Patterns rather than a list, so that a file split off a widget part lands in
# the widgets library by its name alone.
set(TLM_WIDGET_FILE_PATTERNS
    window* control* list* textstore* chunkedarray* columnwidths* display* menu* graphics* clipboard* dragitem* picture* qtpicture*
    guiapplication* dialogs.cpp)

# Sets `out` to TRUE when the file called `name` (no folder) belongs to the widgets library.
function(tlm_is_widget_file name out)
    set(result FALSE)
    foreach(pattern IN LISTS TLM_WIDGET_FILE_PATTERNS)
        string(REPLACE "." "\\." regex "${pattern}")
        string(REPLACE "*" ".*" regex "${regex}")
        if(name MATCHES "^${regex}$")
            set(result TRUE)
        endif()
    endforeach()
    set(${out} ${result} PARENT_SCOPE)
endfunction()

# The CMake targets of a layer's folder: "ui/main" is ui_main.
function(tlm_layer_targets folder out)
    if(folder STREQUAL "platform")
        set(${out} platform platform_widgets PARENT_SCOPE)
    else()
        string(REPLACE "/" "_" target "${folder}")
        set(${out} ${target} PARENT_SCOPE)
    endif()
endfunction()

# Sets `out` to the rank of one of our library targets, lowest first; -1 for any other target.
function(tlm_target_rank target out)
    set(rank 0)
    set(found -1)
    foreach(folder IN LISTS TLM_LAYER_FOLDERS)
        tlm_layer_targets(${folder} targets)
        foreach(t IN LISTS targets)
            if(t STREQUAL target)
                set(found ${rank})
            endif()
            math(EXPR rank "${rank} + 1")
        endforeach()
    endforeach()
    set(${out} ${found} PARENT_SCOPE)
endfunction()

# A library of the program's logic: every source and header of the calling folder (but those
# named after EXCLUDE), linking what follows PUBLIC and PRIVATE. A new layer is its folder in
# TLM_LAYER_FOLDERS, one call of this and one add_subdirectory.
function(tlm_add_layer name)
    cmake_parse_arguments(arg "" "" "PUBLIC;PRIVATE;EXCLUDE" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    foreach(excluded IN LISTS arg_EXCLUDE)
        list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
    endforeach()
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC ${arg_PUBLIC} PRIVATE ${arg_PRIVATE})
endfunction()

function(tlm_collect_targets dir out)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(sub IN LISTS subdirs)
        tlm_collect_targets(${sub} more)
        list(APPEND targets ${more})
    endforeach()
    set(${out} ${targets} PARENT_SCOPE)
endfunction()

# Fails the configuration when a library links one of its own layer's or a higher layer's, or a
# target with the property TLM_LAYER (a test program: the layer it tests) links a library above
# that layer. CMake itself accepts cycles of static libraries, so nothing else would notice.
function(tlm_check_layer_links)
    tlm_collect_targets(${CMAKE_SOURCE_DIR} targets)
    set(faults "")
    foreach(target IN LISTS targets)
        tlm_target_rank(${target} own)
        get_target_property(tested ${target} TLM_LAYER)
        if(tested)
            tlm_target_rank(${tested} limit)
            math(EXPR limit "${limit} + 1") # its own layer is allowed
        elseif(own GREATER_EQUAL 0)
            set(limit ${own})
        else()
            continue()
        endif()
        get_target_property(direct ${target} LINK_LIBRARIES)
        get_target_property(interface ${target} INTERFACE_LINK_LIBRARIES)
        set(deps "")
        foreach(dep IN LISTS direct interface)
            string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" dep "${dep}")
            list(APPEND deps "${dep}")
        endforeach()
        list(REMOVE_DUPLICATES deps)
        foreach(dep IN LISTS deps)
            tlm_target_rank("${dep}" rank)
            if(rank GREATER_EQUAL limit)
                string(APPEND faults "\n  ${target} links ${dep}, which is not below it")
            endif()
        endforeach()
    endforeach()
    if(faults)
        message(FATAL_ERROR "The libraries' dependencies must run one way:${faults}")
    endif()
endfunction()

if(NOT CMAKE_SCRIPT_MODE_FILE)
    # Once every folder has made its targets.
    cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL tlm_check_layer_links)
endif()
