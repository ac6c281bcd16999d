# ostrakan.exe, the Windows program, and the driver of its tests under Wine.
# Both link statically so they import nothing but the system's own DLLs.
enable_language(RC)

set(OSTRAKAN_STATIC_LINK -static -static-libgcc -static-libstdc++)

add_executable(ostrakan WIN32
    app/windows/about_box.cpp
    app/windows/main_window.cpp
    app/windows/painting.cpp
    app/windows/text1251.cpp
    app/windows/win32_window.cpp
    modem/windows/panel_captions.cpp
    serial/trace.cpp
    serial/windows/trace.cpp
    serial/windows/win32_line.cpp
    resources/ostrakan.rc
    resources/version.rc
)
target_link_libraries(ostrakan PRIVATE ostrakan_core user32 gdi32 kernel32)
target_link_options(ostrakan PRIVATE ${OSTRAKAN_STATIC_LINK})
# windres finds resource.h and the icons beside the .rc file.
set_source_files_properties(resources/ostrakan.rc PROPERTIES
    OBJECT_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/resources/resource.h;${CMAKE_CURRENT_SOURCE_DIR}/resources/ostrakan.ico;${CMAKE_CURRENT_SOURCE_DIR}/resources/small.ico")
# The version block reads version.h from the generated folder (ostrakan_core's
# include path, which windres gets as well).
set_source_files_properties(resources/version.rc PROPERTIES
    OBJECT_DEPENDS "${PROJECT_BINARY_DIR}/generated/version.h")
target_compile_definitions(ostrakan PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
ostrakan_warnings(ostrakan)
set_target_properties(ostrakan PROPERTIES OUTPUT_NAME ostrakan SUFFIX .exe)

# The test driver: a console program that starts ostrakan.exe and works it the
# way a user would, through the controls' ids.
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/tests/wine/driver.cpp)
    add_executable(ostrakan_wine_driver tests/wine/driver.cpp)
    target_include_directories(ostrakan_wine_driver PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_compile_definitions(ostrakan_wine_driver PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
    target_link_libraries(ostrakan_wine_driver PRIVATE user32 gdi32 kernel32)
    target_link_options(ostrakan_wine_driver PRIVATE ${OSTRAKAN_STATIC_LINK})
    ostrakan_warnings(ostrakan_wine_driver)
endif()

# The platform pieces that need Win32 underneath, run under Wine by
# scripts/test-wine-cli.sh.
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/tests/wine/platform_test.cpp)
    add_executable(ostrakan_wine_platform_test
        tests/wine/platform_test.cpp
        serial/windows/port_list.cpp
        settings/windows/replace_file.cpp
    )
    target_include_directories(ostrakan_wine_platform_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_compile_definitions(ostrakan_wine_platform_test PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
    target_link_libraries(ostrakan_wine_platform_test PRIVATE kernel32 advapi32 setupapi)
    target_link_options(ostrakan_wine_platform_test PRIVATE ${OSTRAKAN_STATIC_LINK})
    ostrakan_warnings(ostrakan_wine_platform_test)
endif()

# ostrakan-cli.exe: the command-line tool on the Win32 back end, a console
# program, static like ostrakan.exe. Its options are CLI11's, which is header
# only: Debian installs it in /usr/include beside glibc's headers, which a
# cross build must never see, so a folder of our own holds a link to CLI/ alone.
find_path(OSTRAKAN_CLI11_ROOT CLI/CLI.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(OSTRAKAN_CLI11_ROOT)
    set(cli11_include ${PROJECT_BINARY_DIR}/cli11-include)
    file(MAKE_DIRECTORY ${cli11_include})
    file(CREATE_LINK ${OSTRAKAN_CLI11_ROOT}/CLI ${cli11_include}/CLI SYMBOLIC)
    add_library(ostrakan_cli11 INTERFACE)
    target_include_directories(ostrakan_cli11 SYSTEM INTERFACE ${cli11_include})

    include(${CMAKE_CURRENT_LIST_DIR}/cli_sources.cmake)
    add_executable(ostrakan-cli
        app/windows/host_loop.cpp
        serial/windows/port_list.cpp
        serial/trace.cpp
        serial/windows/trace.cpp
        serial/windows/win32_line.cpp
        ${OSTRAKAN_CLI_PORTABLE_SOURCES}
        tools/cli/windows/files.cpp
        tools/cli/windows/main.cpp
        tools/cli/windows/platform.cpp
        tools/cli/windows/port_identity.cpp
        tools/cli/windows/probe.cpp
        tools/cli/windows/terminal.cpp
        tools/cli/windows/text_encoding.cpp
        tools/cli/windows/unit_log.cpp
    )
    target_link_libraries(ostrakan-cli PRIVATE ostrakan_profile ostrakan_json ostrakan_cli11 user32 kernel32 advapi32 setupapi)
    # wmain: the arguments as UTF-16, from msvcrt's start-up code.
    target_link_options(ostrakan-cli PRIVATE ${OSTRAKAN_STATIC_LINK} -municode)
    target_compile_definitions(ostrakan-cli PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
    ostrakan_warnings(ostrakan-cli)
    set_target_properties(ostrakan-cli PROPERTIES SUFFIX .exe)
else()
    message(WARNING "CLI11 (libcli11-dev) not found: ostrakan-cli.exe is not built")
endif()
