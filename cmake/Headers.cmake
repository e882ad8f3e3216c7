# Each library offers its own headers, and only those, by the paths the code
# includes them with ("platform/ui/msgbox.h"): a folder in the build tree holds
# a link to each of the library's source folders, and whatever links the
# library gets that folder as its include path. A header of a library a target
# does not link is not found.
function(veltrane_expose_headers target)
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  foreach(folder ${ARGN})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
  get_target_property(kind ${target} TYPE)
  if(kind STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
