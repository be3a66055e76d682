# Settings every target shares: language level, warnings as errors, hidden symbols, sanitizers.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_C_STANDARD 11)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_C_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE Release CACHE STRING "Build type" FORCE)
endif()

# Records are filled with designated initialisers that leave unused fields 0 on purpose.
add_compile_options(-Wall -Wextra -Wpedantic -Werror -Wno-missing-field-initializers)

# SPECKMOOR_SANITIZE: "address" (ASan + UBSan) or "thread" (TSan).
set(SPECKMOOR_SANITIZE "" CACHE STRING "Sanitizers: address or thread")
if(SPECKMOOR_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(SPECKMOOR_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT SPECKMOOR_SANITIZE STREQUAL "")
  message(FATAL_ERROR "SPECKMOOR_SANITIZE must be empty, address or thread")
endif()

# A plug-in: a MODULE library placed in the bundle's Plugins/ folder.
function(speckmoor_plugin target output_name)
  add_library(${target} MODULE ${ARGN})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${output_name}
    LIBRARY_OUTPUT_DIRECTORY ${SPECKMOOR_PLUGIN_DIR})
  target_link_options(${target} PRIVATE -Wl,--no-undefined)
  add_dependencies(speckmoor_plugins ${target})
endfunction()
