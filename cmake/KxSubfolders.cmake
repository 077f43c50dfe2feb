# kx_add_subfolders(): adds every folder right below the current source folder
# that has a CMakeLists.txt, so a new test or benchmark folder needs no change
# in the folder above it.
function(kx_add_subfolders)
  file(GLOB subfolders LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(dir ${subfolders})
    if(IS_DIRECTORY ${dir} AND EXISTS ${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()
