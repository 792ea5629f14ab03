# Copies the Windows image programs, the sRGB profile and the fallback font
# they use from FROM into OUT. A file that is not in FROM is left out (and removed from OUT): the
# rows needing it then fail.
file(MAKE_DIRECTORY ${OUT})
foreach(name magick.exe cjpeg.exe gswin32c.exe srgb.icc DejaVuSans.ttf)
  if(FROM AND EXISTS ${FROM}/${name})
    file(COPY_FILE ${FROM}/${name} ${OUT}/${name} ONLY_IF_DIFFERENT)
  else()
    file(REMOVE ${OUT}/${name})
    message(STATUS "vendor: no ${name} in '${FROM}'; it stays missing")
  endif()
endforeach()
