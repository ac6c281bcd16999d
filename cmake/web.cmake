# The browser build (emcmake, scripts/build-web.sh): the core with the web Line
# and Window, exported with embind. Two links of the same objects: an ES module
# the page's Worker imports beside its .wasm, and a one-file CommonJS module the
# node tests load synchronously.
add_library(ostrakan_web STATIC
    app/web/web_host.cpp
    app/web/web_window.cpp
    serial/web/web_line.cpp
)
target_link_libraries(ostrakan_web PUBLIC ostrakan_core)
ostrakan_warnings(ostrakan_web)

set(OSTRAKAN_WEB_LINK --bind -sALLOW_MEMORY_GROWTH=0 -sINITIAL_MEMORY=16MB
    -sMODULARIZE=1 -sEXPORT_NAME=createOstrakan -sFILESYSTEM=1 -sINCOMING_MODULE_JS_API=[] -sDYNAMIC_EXECUTION=0)

add_executable(ostrakan-web app/web/bindings.cpp)
target_link_libraries(ostrakan-web PRIVATE ostrakan_web ostrakan_profile)
ostrakan_warnings(ostrakan_web)
target_link_options(ostrakan-web PRIVATE ${OSTRAKAN_WEB_LINK} -sEXPORT_ES6=1 -sENVIRONMENT=web,worker)
set_target_properties(ostrakan-web PROPERTIES OUTPUT_NAME ostrakan SUFFIX .mjs)

add_executable(ostrakan-node app/web/bindings.cpp)
target_link_libraries(ostrakan-node PRIVATE ostrakan_web ostrakan_profile)
target_link_options(ostrakan-node PRIVATE ${OSTRAKAN_WEB_LINK} -sENVIRONMENT=node -sSINGLE_FILE=1
    -sWASM_ASYNC_COMPILATION=0)
set_target_properties(ostrakan-node PROPERTIES OUTPUT_NAME ostrakan-node SUFFIX .cjs)
