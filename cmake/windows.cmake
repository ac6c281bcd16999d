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
