# Each library of src/ offers the code that links it its own folder and nothing else. Its include
# root is a folder of the build tree holding one link, named like the source folder, to that
# folder; so "config/configuration.h" is found only by code whose target links pagorin_config
# (directly or through a library that does), and a wrong include fails to compile.

# Makes `folder` of src/ the include root that `target` offers to itself and to what links it.
function(pagorin_offer_folder target folder)
  set(root ${PROJECT_BINARY_DIR}/include/${folder})
  if(NOT IS_SYMLINK ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

# Offers the one header `path` (relative to src/) through the interface library `target`.
function(pagorin_offer_header target path)
  string(MAKE_C_IDENTIFIER ${path} name)
  set(root ${PROJECT_BINARY_DIR}/include/${name})
  if(NOT IS_SYMLINK ${root}/${path})
    get_filename_component(parent ${root}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${path} ${root}/${path} SYMBOLIC)
  endif()
  target_include_directories(${target} INTERFACE ${root})
endfunction()
