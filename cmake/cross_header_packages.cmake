# The header-only libraries of the simulators (toml++, nlohmann-json, CLI11) for a cross build:
# Debian installs them for the build machine only, and their headers serve any target. Each
# folder is linked into a folder of the build's own, so that only these headers, and none of the
# build machine's system headers, come into the target's include path.
set(PAGORIN_HOST_INCLUDE_DIR /usr/include CACHE PATH
    "Where the build machine keeps toml++, nlohmann-json and CLI11 (for cross builds)")
set(pagorin_header_dir ${CMAKE_BINARY_DIR}/cross-headers)
foreach(entry "tomlplusplus::tomlplusplus=toml++" "nlohmann_json::nlohmann_json=nlohmann"
              "CLI11::CLI11=CLI")
  string(REPLACE "=" ";" entry "${entry}")
  list(GET entry 0 target)
  list(GET entry 1 folder)
  if(TARGET ${target} OR NOT EXISTS ${PAGORIN_HOST_INCLUDE_DIR}/${folder})
    continue()
  endif()
  file(MAKE_DIRECTORY ${pagorin_header_dir})
  if(NOT EXISTS ${pagorin_header_dir}/${folder})
    file(CREATE_LINK ${PAGORIN_HOST_INCLUDE_DIR}/${folder} ${pagorin_header_dir}/${folder} SYMBOLIC)
  endif()
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${pagorin_header_dir})
endforeach()
foreach(package tomlplusplus::tomlplusplus nlohmann_json::nlohmann_json CLI11::CLI11)
  string(REGEX REPLACE "::.*" "" name ${package})
  if(TARGET ${package})
    set(${name}_FOUND TRUE)
  endif()
endforeach()
