# Makes OUT/magick, OUT/cjpeg and OUT/gs as links to Debian's programs.
# The image tool must be ImageMagick's convert in /usr/bin: a convert found
# elsewhere on PATH may be something else, so its -version text is checked.
file(MAKE_DIRECTORY ${OUT})

function(vendor_link name target)
  file(REMOVE ${OUT}/${name})
  if(EXISTS ${target})
    file(CREATE_LINK ${target} ${OUT}/${name} SYMBOLIC)
  else()
    message(STATUS "vendor: ${target} not found; ${name} stays missing")
  endif()
endfunction()

set(magick /usr/bin/convert)
if(EXISTS ${magick})
  execute_process(COMMAND ${magick} -version OUTPUT_VARIABLE ver ERROR_QUIET RESULT_VARIABLE rc)
  if(NOT ver MATCHES "ImageMagick")
    message(STATUS "vendor: ${magick} is not ImageMagick")
    set(magick /nonexistent)
  endif()
endif()
vendor_link(magick ${magick})
vendor_link(cjpeg /usr/bin/cjpeg)
vendor_link(gs /usr/bin/gs)
