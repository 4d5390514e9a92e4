# Helpers that keep adding a library, an executable or a test to a few lines.

set(TESSORA_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wunused)
if(TESSORA_WERROR)
    list(APPEND TESSORA_WARNINGS -Werror)
endif()

if(TESSORA_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

function(tessora_apply_warnings target)
    target_compile_options(${target} PRIVATE ${TESSORA_WARNINGS})
    # Qt's headers are system headers: their warnings are not ours to fix.
    target_compile_definitions(${target} PRIVATE QT_NO_FOREACH QT_DEPRECATED_WARNINGS)
endfunction()

# tessora_add_library(NAME SOURCES files... [PUBLIC_LIBS libs...] [PRIVATE_LIBS libs...])
# A static library whose public headers sit in <dir>/include and sources in <dir>/src.
function(tessora_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name}
        PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include
        PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
    tessora_apply_warnings(${name})
endfunction()

# tessora_add_executable(NAME SOURCES files... LIBS libs...)
function(tessora_add_executable name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    tessora_apply_warnings(${name})
endfunction()

# tessora_add_test(NAME SOURCES files... LIBS libs... [LABELS labels...] [TIMEOUT seconds])
# One Qt Test executable, run headless by CTest.
function(tessora_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt5::Test tessora_testhelpers ${ARG_LIBS})
    tessora_apply_warnings(${name})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        LABELS "${ARG_LABELS}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp")
endfunction()
