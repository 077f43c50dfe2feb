# Copies the demo's directory files next to the built project, when there are any.
if(EXISTS "${SRC}")
  file(GLOB files "${SRC}/*")
  if(files)
    file(COPY ${files} DESTINATION "${DST}")
  endif()
endif()
