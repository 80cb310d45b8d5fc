# Every include in src/ names its folder ("camera/device_info.h"). A target sees a folder only
# through an include root of its own, ${CMAKE_BINARY_DIR}/layers/<folder>, which holds nothing
# but a link named <folder> to src/<folder>. lumo_expose(target folder) gives the target that root
# and hands it on to whoever links the target, so a folder is visible exactly to the targets that
# may use it, and an include of any other folder fails to compile.
function(lumo_expose target folder)
  set(root ${CMAKE_BINARY_DIR}/layers/${folder})
  if(NOT EXISTS ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
