# Warnings and sanitizers shared by every target of the project.
add_compile_options(-Wall -Wextra -Wpedantic)

# The program handles credentials and network input: the usual hardening of a distribution's
# binaries (checked buffer functions, read-only relocations bound at start), except in the
# instrumented builds, whose runtimes do that work themselves.
if(ORVANE_SANITIZE STREQUAL "" AND NOT ORVANE_FUZZ)
    add_compile_options($<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2> -fstack-protector-strong)
    add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()

if(ORVANE_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(ORVANE_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT ORVANE_SANITIZE STREQUAL "")
    message(FATAL_ERROR "ORVANE_SANITIZE must be empty, address or thread")
endif()

if(ORVANE_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "ORVANE_FUZZ needs clang++")
    endif()
    # Instrument everything for coverage; only the fuzz targets link libFuzzer's main.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# Sources include each other by their path from the project root.
include_directories(${PROJECT_SOURCE_DIR})
