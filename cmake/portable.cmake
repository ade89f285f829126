# The portable Linux module (OSTRELIN_PORTABLE, scripts/build-portable.sh):
# one ostrelin.so for every Linux OBS from 29.0 on, whatever its distribution,
# its FFmpeg or the name of its libobs, the Flatpak's included.
#   - libobs 29.0.2's headers (Debian 12's libobs-dev), as for the Windows
#     DLL: the oldest libobs the module supports, so that every later one
#     accepts the source record and API version it registers.
#   - No libobs by name. The module's libobs functions are found in the OBS
#     process that loads it: the OBS program itself needs libobs, so libobs is
#     always loaded and global by then. libobs.so.0 (OBS 29, Debian) and
#     libobs.so.30 (OBS's own builds from 30.2 on, the Flatpak) then both do.
#   - The static, decoder-only FFmpeg (scripts/build-ffmpeg.sh linux), kept to
#     the module: libobs has already loaded the system's FFmpeg into the
#     process, of whatever major version, and none of the module's FFmpeg
#     calls may bind to it (ostrelin_portable_link below).
get_filename_component(ostrelin_build_dir ${CMAKE_CURRENT_LIST_DIR}/../build ABSOLUTE)
set(OSTRELIN_OBS_INCLUDE_DIR "/usr/include/obs" CACHE PATH "libobs headers")
if(NOT EXISTS ${OSTRELIN_OBS_INCLUDE_DIR}/obs-config.h)
  message(FATAL_ERROR "No libobs headers in ${OSTRELIN_OBS_INCLUDE_DIR} (Debian's libobs-dev puts them in /usr/include/obs)")
endif()
add_library(OBS::libobs INTERFACE IMPORTED)
target_include_directories(OBS::libobs INTERFACE ${OSTRELIN_OBS_INCLUDE_DIR})

set(ostrelin_ffmpeg_default_dir "${ostrelin_build_dir}/ffmpeg-linux")
set(ostrelin_ffmpeg_extra_libs)
include(${CMAKE_CURRENT_LIST_DIR}/static-ffmpeg.cmake)

# The module exports the names of cmake/windows/ostrelin.def and nothing
# else: a version script made from that list hides every other global name,
# --exclude-libs hides the archives' names, and -Bsymbolic binds whatever the
# module defines to its own definition (FFmpeg's advice for a shared library
# with a static FFmpeg inside).
function(ostrelin_portable_link target)
  set(def ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/windows/ostrelin.def)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  file(STRINGS ${def} lines)
  set(names)
  set(in_exports OFF)
  foreach(line IN LISTS lines)
    if(line MATCHES "^EXPORTS")
      set(in_exports ON)
    elseif(in_exports AND line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)")
      string(APPEND names "    ${CMAKE_MATCH_1};\n")
    endif()
  endforeach()
  set(map ${CMAKE_BINARY_DIR}/ostrelin.map)
  file(WRITE ${map} "{\n  global:\n${names}  local:\n    *;\n};\n")
  target_link_options(${target} PRIVATE -Wl,--version-script=${map} -Wl,--exclude-libs,ALL -Wl,-Bsymbolic)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
endfunction()
