# Warnings and sanitizers shared by every target of the project.
add_compile_options(-Wall -Wextra -Wpedantic)

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
