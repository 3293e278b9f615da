# The program's icon as PNG pictures of the given sizes, drawn with
# rsvg-convert from its one scalable drawing into the current build folder
# (icon-SIZE.png); their paths go to OUT_VAR.
include_guard(GLOBAL)
function(kvx_icon_pngs out_var)
  set(drawing ${PROJECT_SOURCE_DIR}/packaging/kvx340.svg)
  set(pngs)
  foreach(size ${ARGN})
    add_custom_command(OUTPUT icon-${size}.png
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o icon-${size}.png ${drawing}
      DEPENDS ${drawing}
      VERBATIM)
    list(APPEND pngs ${CMAKE_CURRENT_BINARY_DIR}/icon-${size}.png)
  endforeach()
  set(${out_var} ${pngs} PARENT_SCOPE)
endfunction()
