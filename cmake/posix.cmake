# POSIX targets: the serial back-end with the host loop, the device simulator and
# the command-line tool.
find_package(Threads REQUIRED)
# Command-line parsing for both programs: Debian's header-only libcli11-dev.
find_package(CLI11 CONFIG REQUIRED)

add_library(ostrakan_posix STATIC
    app/unix/host_loop.cpp
    serial/unix/io_threads.cpp
    serial/unix/port_list.cpp
    serial/unix/port_map.cpp
    serial/unix/posix_line.cpp
    serial/unix/pseudo_terminal.cpp
    serial/trace.cpp
    serial/unix/trace.cpp
    serial/unix/tty_io.cpp
)
target_link_libraries(ostrakan_posix PUBLIC ostrakan_core Threads::Threads)
ostrakan_warnings(ostrakan_posix)

# The simulated controller and modem, also served in-process by "ostrakan-cli --port sim".
add_library(ostrakan_sim STATIC
    tools/sim/device_model.cpp
    tools/sim/replay.cpp
    tools/sim/sim_options.cpp
    tools/sim/sim_server.cpp
)
target_include_directories(ostrakan_sim PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(ostrakan_sim PUBLIC ostrakan_posix Threads::Threads CLI11::CLI11)
ostrakan_warnings(ostrakan_sim)

add_executable(ostrakan-sim tools/sim/main.cpp)
target_link_libraries(ostrakan-sim PRIVATE ostrakan_sim)
ostrakan_warnings(ostrakan-sim)

include(${CMAKE_CURRENT_LIST_DIR}/cli_sources.cmake)
add_library(ostrakan_cli STATIC
    ${OSTRAKAN_CLI_PORTABLE_SOURCES}
    tools/cli/unix/files.cpp
    tools/cli/unix/platform.cpp
    tools/cli/unix/port_identity.cpp
    tools/cli/unix/probe.cpp
    tools/cli/unix/terminal.cpp
    tools/cli/unix/text_encoding.cpp
    tools/cli/unix/unit_log.cpp
)
target_link_libraries(ostrakan_cli PUBLIC ostrakan_posix ostrakan_sim ostrakan_profile ostrakan_json)
ostrakan_warnings(ostrakan_cli)

add_executable(ostrakan-cli tools/cli/main.cpp)
target_link_libraries(ostrakan-cli PRIVATE ostrakan_cli)
ostrakan_warnings(ostrakan-cli)

