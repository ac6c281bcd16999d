# Coverage-guided fuzzers (libFuzzer) under AddressSanitizer and
# UndefinedBehaviorSanitizer. Clang only:
#   cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DOSTRAKAN_FUZZ=ON
# scripts/fuzz.sh configures, builds and runs them.
option(OSTRAKAN_FUZZ "Build the libFuzzer targets in fuzz/ (needs clang)" OFF)

if(OSTRAKAN_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "OSTRAKAN_FUZZ needs clang++ (libFuzzer), not ${CMAKE_CXX_COMPILER_ID}")
    endif()
    set(OSTRAKAN_FUZZ_SANITIZERS
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
    # The code under test gets the coverage instrumentation the fuzzer steers by.
    target_compile_options(ostrakan_core PRIVATE -fsanitize=fuzzer-no-link ${OSTRAKAN_FUZZ_SANITIZERS})

    # One executable per target, fuzz/<name>.cpp plus any extra sources.
    function(ostrakan_fuzzer name)
        add_executable(${name} fuzz/${name}.cpp ${ARGN})
        target_compile_options(${name} PRIVATE -fsanitize=fuzzer ${OSTRAKAN_FUZZ_SANITIZERS})
        target_link_options(${name} PRIVATE -fsanitize=fuzzer ${OSTRAKAN_FUZZ_SANITIZERS})
        target_link_libraries(${name} PRIVATE ostrakan_core)
        ostrakan_warnings(${name})
    endfunction()

    ostrakan_fuzzer(fuzz_reply_classifier)
    ostrakan_fuzzer(fuzz_settings)
    # The device model alone, without the simulator's serial server.
    ostrakan_fuzzer(fuzz_sim_requests tools/sim/device_model.cpp)
    # The profile reader with the JSON reader under it.
    ostrakan_fuzzer(fuzz_profile tools/profile/profile.cpp tools/json/json_reader.cpp tools/json/json_writer.cpp)
    # The session trace reader of --replay and the trace lines it reads.
    ostrakan_fuzzer(fuzz_trace_reader tools/sim/replay.cpp serial/trace.cpp serial/unix/trace.cpp)
endif()
