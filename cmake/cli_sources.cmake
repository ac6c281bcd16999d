# ostrakan-cli's portable part, the same on both platforms; posix.cmake and
# windows.cmake add each platform's files (tools/cli/unix, tools/cli/windows).
set(OSTRAKAN_CLI_PORTABLE_SOURCES
    ${PROJECT_SOURCE_DIR}/tools/cli/cli.cpp
    ${PROJECT_SOURCE_DIR}/tools/cli/commands/dump.cpp
    ${PROJECT_SOURCE_DIR}/tools/cli/commands/modem.cpp
    ${PROJECT_SOURCE_DIR}/tools/cli/commands/ports.cpp
    ${PROJECT_SOURCE_DIR}/tools/cli/commands/provision.cpp
    ${PROJECT_SOURCE_DIR}/tools/cli/commands/read.cpp
    ${PROJECT_SOURCE_DIR}/tools/cli/commands/restore.cpp
    ${PROJECT_SOURCE_DIR}/tools/cli/commands/verify.cpp
    ${PROJECT_SOURCE_DIR}/tools/cli/commands/write.cpp
    ${PROJECT_SOURCE_DIR}/tools/cli/fleet.cpp
    ${PROJECT_SOURCE_DIR}/tools/cli/operations.cpp
    ${PROJECT_SOURCE_DIR}/tools/cli/options.cpp
    ${PROJECT_SOURCE_DIR}/tools/cli/output.cpp
    ${PROJECT_SOURCE_DIR}/tools/cli/probe.cpp
    ${PROJECT_SOURCE_DIR}/tools/cli/secrets.cpp
    ${PROJECT_SOURCE_DIR}/tools/cli/session.cpp
    ${PROJECT_SOURCE_DIR}/tools/cli/unit_log.cpp
    ${PROJECT_SOURCE_DIR}/tools/cli/unit_restore.cpp
)
