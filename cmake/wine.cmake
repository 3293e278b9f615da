# Cross-built for Windows on Linux: tests and build-time test discovery run
# the programs under Wine (64-bit), through a wrapper that puts the Qt and
# MinGW libraries on Wine's path and keeps a Wine prefix of this build.
find_program(KVX_WINE NAMES wine64 wine REQUIRED)
set(KVX_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "The Wine prefix the tests run in")

get_target_property(kvx_qt_core Qt6::Core IMPORTED_LOCATION_RELEASE)
if(NOT kvx_qt_core)
  get_target_property(kvx_qt_core Qt6::Core IMPORTED_LOCATION)
endif()
get_filename_component(kvx_qt_bin ${kvx_qt_core} DIRECTORY)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-runtime.cmake)
set(kvx_wine_dirs)
foreach(path ${kvx_qt_bin} ${KVX_MINGW_RUNTIME})
  if(NOT IS_DIRECTORY ${path})
    get_filename_component(path ${path} DIRECTORY)
  endif()
  # Wine sees the Unix root as drive Z:.
  string(REPLACE "/" "\\" path "Z:${path}")
  list(APPEND kvx_wine_dirs "${path}")
endforeach()
list(REMOVE_DUPLICATES kvx_wine_dirs)
list(JOIN kvx_wine_dirs ";" KVX_WINEPATH)

configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
