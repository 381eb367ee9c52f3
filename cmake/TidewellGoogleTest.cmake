# Registers GoogleTest cases with ctest by reading their sources, so that nothing runs the test
# program at build time (under Wine that would need a booted prefix).
#
#   tidewell_add_gtests(TARGET <exe> SOURCES <files...>)
#
# Each TEST, TEST_F, TEST_P, TYPED_TEST and TYPED_TEST_P found becomes one ctest test named
# Suite.Name that runs the program with a filter for that case (every instance of a
# parameterised one). A last test, <exe>:rest, runs every case that the other filters exclude,
# so a case the scan cannot see (a macro-generated one, say) still runs. A filter that matches
# nothing fails instead of passing silently.

function(tidewell_add_gtests)
    cmake_parse_arguments(ARG "" "TARGET" "SOURCES" ${ARGN})
    set(space "[ \t\r\n]*")
    set(word "([A-Za-z_][A-Za-z0-9_]*)")
    set(case_regex "(^|[^A-Za-z0-9_])(TYPED_TEST_P|TYPED_TEST|TEST_P|TEST_F|TEST)${space}\\(")
    string(APPEND case_regex "${space}${word}${space},${space}${word}${space}\\)")
    set(names)
    set(filters)
    foreach(source IN LISTS ARG_SOURCES)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
        file(READ "${source}" text)
        # Macro definitions and commented-out lines hold no case of their own.
        string(REGEX REPLACE "\\\\\r?\n" " " text "${text}")
        string(REGEX REPLACE "(^|\n)[ \t]*(#|//)[^\n]*" "\\1" text "${text}")
        string(REGEX MATCHALL "${case_regex}" hits "${text}")
        foreach(hit IN LISTS hits)
            if(NOT hit MATCHES "${case_regex}")
                continue()
            endif()
            set(kind "${CMAKE_MATCH_2}")
            set(suite "${CMAKE_MATCH_3}")
            set(case "${CMAKE_MATCH_4}")
            if(suite MATCHES "^DISABLED_" OR case MATCHES "^DISABLED_")
                continue()
            endif()
            # The names GoogleTest gives: Prefix/Suite.Case/Param for TEST_P (no prefix when
            # the instantiation has none), Suite/Type.Case for TYPED_TEST.
            if(kind STREQUAL "TEST_P")
                set(filter "*/${suite}.${case}/*:${suite}.${case}/*")
            elseif(kind STREQUAL "TYPED_TEST")
                set(filter "${suite}/*.${case}")
            elseif(kind STREQUAL "TYPED_TEST_P")
                set(filter "*/${suite}/*.${case}")
            else()
                set(filter "${suite}.${case}")
            endif()
            set(name "${suite}.${case}")
            if(name IN_LIST names)
                continue()
            endif()
            list(APPEND names "${name}")
            list(APPEND filters "${filter}")
            add_test(NAME "${name}" COMMAND ${ARG_TARGET} "--gtest_filter=${filter}")
            set_tests_properties("${name}" PROPERTIES
                FAIL_REGULAR_EXPRESSION "Running 0 tests from 0 test suites")
        endforeach()
    endforeach()

    string(REPLACE ";" ":" excluded "${filters}")
    string(LENGTH "${excluded}" length)
    if(length GREATER 30000)
        message(WARNING "${ARG_TARGET}: the filter of ${ARG_TARGET}:rest is ${length} characters, "
                        "close to the Windows command line limit")
    endif()
    add_test(NAME "${ARG_TARGET}:rest" COMMAND ${ARG_TARGET} "--gtest_filter=-${excluded}")
endfunction()

# The .cpp sources of TARGET as absolute paths.
function(tidewell_target_cpp_sources target out)
    get_target_property(dir ${target} SOURCE_DIR)
    set(result)
    foreach(property SOURCES INTERFACE_SOURCES)
        get_target_property(sources ${target} ${property})
        if(NOT sources)
            continue()
        endif()
        foreach(source IN LISTS sources)
            if(source MATCHES "^\\$<" OR NOT source MATCHES "\\.(cpp|cc|cxx)$")
                continue()
            endif()
            get_filename_component(source "${source}" ABSOLUTE BASE_DIR "${dir}")
            list(APPEND result "${source}")
        endforeach()
    endforeach()
    set(${out} ${result} PARENT_SCOPE)
endfunction()
