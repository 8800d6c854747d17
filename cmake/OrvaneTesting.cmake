# Helpers for test and fuzz targets.
include(GoogleTest)

# orvane_gtest(<name> SOURCES ... [LIBS ...] [LABELS ...])
# Labels in use: threads (also run under ThreadSanitizer), lab (builds network namespaces: these
# take the resource lock "lab", so that ctest -j runs one of them at a time beside the rest),
# service, core.
# A GoogleTest program under build/bin/tests, each test case registered with ctest.
function(orvane_gtest name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main
                                          GTest::gmock Threads::Threads)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/tests)
    target_compile_definitions(${name} PRIVATE
        ORVANE_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
        ORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    # The properties pass through a generated script that keeps only one label, so several
    # labels are joined into one ("service-threads"); ctest -L matches labels as regular
    # expressions, so -L threads still selects it.
    set(properties TIMEOUT 300)
    if(ARG_LABELS)
        list(JOIN ARG_LABELS "-" label)
        list(APPEND properties LABELS ${label})
    endif()
    if("lab" IN_LIST ARG_LABELS)
        list(APPEND properties RESOURCE_LOCK lab)
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES ${properties})
endfunction()

set(ORVANE_FUZZ_RUNS 800000 CACHE STRING "How many inputs ctest runs through each fuzz target")
set(ORVANE_FUZZ_SEED 1 CACHE STRING "The random seed of the fuzz targets' ctest runs")
set(ORVANE_FUZZ_SECONDS 600 CACHE STRING "The most time a fuzz target's ctest run may take")

# orvane_fuzzer(<name> SOURCES ... [LIBS ...])
# A libFuzzer target. Its ctest entry is reproducible: ORVANE_FUZZ_RUNS inputs from the fixed seed
# ORVANE_FUZZ_SEED, starting from a fresh copy of the committed corpus tests/fuzz/corpus/<name>
# (when that folder exists), so that a red run is repeated with the same command; the input that
# failed is kept as ${CMAKE_BINARY_DIR}/fuzz-artifacts/<name>-crash-* (the target's coverage is
# not bit-for-bit the same from run to run, so that file is the sure way back to the fault).
# ORVANE_FUZZ_SECONDS only stops a run that would take far longer than it should (800,000 inputs
# take about a minute a target here). Longer random fuzzing: README.
function(orvane_fuzzer name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set(corpus ${CMAKE_BINARY_DIR}/corpus/${name})
    set(seeds ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
    set(artifacts ${CMAKE_BINARY_DIR}/fuzz-artifacts)
    add_test(NAME ${name}
        COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
                sh -c "rm -rf '${corpus}' && mkdir -p '${corpus}' '${artifacts}' && \
                       { [ ! -d '${seeds}' ] || cp -r '${seeds}'/. '${corpus}'/; } && \
                       exec '$<TARGET_FILE:${name}>' -seed=${ORVANE_FUZZ_SEED} \
                            -runs=${ORVANE_FUZZ_RUNS} -max_total_time=${ORVANE_FUZZ_SECONDS} \
                            -reload=0 -artifact_prefix='${artifacts}/${name}-' \
                            -rss_limit_mb=2048 -print_final_stats=1 '${corpus}'")
    set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 900)
endfunction()
