# Shared build settings and helpers for every folder of the project.

set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

add_compile_options(-Wall -Wextra)

if(WIN32)
    # Everything the Windows programs need is linked in: the C++ runtime,
    # winpthread and zlib, so that only system DLLs are imported.
    add_link_options(-static -static-libgcc -static-libstdc++)
    add_compile_options(-ffunction-sections -fdata-sections)
    add_link_options(-Wl,--gc-sections -Wl,--dynamicbase -Wl,--nxcompat)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        add_link_options(-Wl,--high-entropy-va)
    endif()
    add_compile_definitions(WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601 WINVER=0x0601)
    # The tests that end a run at every one of its steps need the cut
    # points (rollback/cut_points.h) compiled in; the shipped program never
    # has them.
    option(SETUP_CUT_POINTS "Compile the test-only cut points into the programs" OFF)
    if(SETUP_CUT_POINTS)
        add_compile_definitions(SETUP_CUT_POINTS)
    endif()
    set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")
endif()

# Options for code that ships inside setup.exe or the uninstaller: small,
# no exceptions, no run-time type information, and the system's
# interfaces named without their suffix in their wide forms, so that none
# of the ANSI ones is called by accident. Nothing of the C++ runtime that
# throws: no guarded statics (their lock brings the runtime's exceptions,
# its unwinder and winpthread; a static the threads share is set before
# the second thread starts, or is the same value whoever sets it) and
# the C library's own printf family (MinGW's brings its own formatter,
# floating point and all; the formats used are those both know). Without
# data sections, because MinGW's compiler then puts every zero-filled
# buffer into the file instead of into .bss (70 KB of them), and without
# the frame pointer.
set(PRODUCT_CXX_OPTIONS -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-threadsafe-statics -fno-data-sections -fomit-frame-pointer -Os
    -D__USE_MINGW_ANSI_STDIO=0 -DUNICODE -D_UNICODE)

# A GUI program of the product for Windows, stripped, without unwind
# tables.
function(setup_gui_program target)
    target_link_options(${target} PRIVATE -mwindows -s -Wl,-T,${CMAKE_SOURCE_DIR}/cmake/no-unwind-tables.ld)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/no-unwind-tables.ld)
endfunction()

# GoogleTest, built from Debian's sources for whichever target is configured.
macro(setup_use_googletest)
    if(NOT TARGET gtest_main)
        set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
        set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
        set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
        add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
        if(WIN32)
            # GoogleTest itself is not held to the project's warning rules.
            target_compile_options(gtest PRIVATE -w)
            target_compile_options(gtest_main PRIVATE -w)
        endif()
    endif()
endmacro()

# Registers a test. Windows tests run under Wine through the emulator and
# depend on the fixture that creates the run's prefix; they share it, so
# they run one at a time (lock "wine"), beside the tests of other prefixes.
function(setup_add_test name)
    set(command ${ARGN})
    list(GET command 0 program)
    if(WIN32 AND program MATCHES "^\\$<TARGET_FILE:")
        # CMake adds the emulator only for a bare target name.
        set(command ${CMAKE_CROSSCOMPILING_EMULATOR} ${command})
    endif()
    add_test(NAME ${name} COMMAND ${command})
    if(WIN32)
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wine TIMEOUT 600)
    else()
        set_tests_properties(${name} PROPERTIES TIMEOUT 600)
    endif()
endfunction()

# A GoogleTest program for Windows that links the setup program's code and
# its interface resources (strings, templates, bitmaps), so that
# LoadString and DialogBox work from the test's own module. Extra .rc files
# may be listed among the sources. Runs under Wine.
function(setup_add_windows_program name)
    setup_use_googletest()
    add_executable(${name} ${ARGN} $<TARGET_OBJECTS:setupui>)
    target_link_libraries(${name} PRIVATE setupcore gtest_main)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/resources/generated ${CMAKE_SOURCE_DIR}/resources)
endfunction()

function(setup_add_windows_test name)
    setup_add_windows_program(${name} ${ARGN})
    setup_add_test(${name} $<TARGET_FILE:${name}>)
endfunction()
