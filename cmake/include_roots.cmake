# Folders of src/ are included as "<folder>/<name>.h". A target does not get
# src/ itself on its include path, which would show it every folder: each
# folder has an include root in the build tree that holds nothing but a link
# named after it, and a target sees the roots of the folders it links. So a
# folder that includes one it does not link (a lower layer including a
# higher one) fails to build.

# quillmoor_include_root(<target> <scope> <folder>): gives <target> the root
# that shows src/<folder>, in <scope> (PUBLIC, INTERFACE).
function(quillmoor_include_root target scope folder)
  set(root "${PROJECT_BINARY_DIR}/include_roots/${folder}")
  file(MAKE_DIRECTORY "${root}")
  file(CREATE_LINK "${PROJECT_SOURCE_DIR}/src/${folder}" "${root}/${folder}" SYMBOLIC)
  target_include_directories(${target} ${scope} "${root}")
endfunction()
