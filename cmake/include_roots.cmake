# Folders of src/ are included as "<folder>/<name>.h". A target does not get
# src/ itself on its include path, which would show it every folder: each
# folder has an include root in the build tree that holds nothing but a link
# named after it, and a target sees the roots of the folders it links. So a
# folder that includes one it does not link (a lower layer including a
# higher one) fails to build. Where one folder holds several targets, each
# target's root shows only its own headers. tests/seam/check_includes.py
# refuses the includes that would get around a root ("../", or a header found
# beside the including file).

# quillmoor_include_root(<target> <scope> <folder>): gives <target> the root
# that shows src/<folder>, in <scope> (PUBLIC, INTERFACE).
function(quillmoor_include_root target scope folder)
  quillmoor_include_dir(${target} ${scope} "${PROJECT_SOURCE_DIR}/src/${folder}")
endfunction()

# quillmoor_include_dir(<target> <scope> <path>): gives <target> a root that
# shows the folder <path> as "<its name>/", and nothing beside it.
function(quillmoor_include_dir target scope path)
  get_filename_component(name "${path}" NAME)
  file(RELATIVE_PATH key "${PROJECT_SOURCE_DIR}" "${path}")
  set(root "${PROJECT_BINARY_DIR}/include_roots/${key}")
  file(MAKE_DIRECTORY "${root}")
  file(CREATE_LINK "${path}" "${root}/${name}" SYMBOLIC)
  target_include_directories(${target} ${scope} "${root}")
endfunction()

# quillmoor_include_headers(<target> <scope> <folder> <header>...): gives
# <target> a root that shows only the listed headers of src/<folder>, as
# "<folder>/<header>": the headers of one target among several in a folder.
function(quillmoor_include_headers target scope folder)
  set(root "${PROJECT_BINARY_DIR}/include_roots/${target}")
  # Rebuilt whole, so a header taken off the list is gone from the root.
  file(REMOVE_RECURSE "${root}")
  file(MAKE_DIRECTORY "${root}/${folder}")
  foreach(header IN LISTS ARGN)
    set(source "${PROJECT_SOURCE_DIR}/src/${folder}/${header}")
    if(NOT EXISTS "${source}")
      message(FATAL_ERROR "quillmoor_include_headers(${target}): no header src/${folder}/${header}")
    endif()
    file(CREATE_LINK "${source}" "${root}/${folder}/${header}" SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${scope} "${root}")
endfunction()
