# What the Windows build links against without an OBS SDK for Windows:
# libobs's headers from a folder on this machine and an import library for
# obs.dll made from the list of the functions the module calls
# (cmake/windows/obs.symbols; a test compares the list with what the Linux
# build imports), and a static, decoder-only FFmpeg linked into the DLL itself
# (scripts/build-ffmpeg.sh windows), so that the DLL needs none of the FFmpeg
# DLLs OBS ships, whose names change with OBS's FFmpeg.
#
# By default libobs 29.0.2's headers (Debian 12's libobs-dev): the oldest
# libobs the module supports, so that the source record it registers and the
# API version it reports are accepted by every OBS from 29.0 on.
get_filename_component(ostrelin_build_dir ${CMAKE_CURRENT_LIST_DIR}/../build ABSOLUTE)
set(OSTRELIN_OBS_INCLUDE_DIR "/usr/include/obs" CACHE PATH "libobs headers")
if(NOT EXISTS ${OSTRELIN_OBS_INCLUDE_DIR}/obs-config.h)
  message(FATAL_ERROR "No libobs headers in ${OSTRELIN_OBS_INCLUDE_DIR} (Debian's libobs-dev puts them in /usr/include/obs)")
endif()

set(windows_dir ${CMAKE_CURRENT_LIST_DIR}/windows)
set(sdk_dir ${CMAKE_BINARY_DIR}/windows-sdk)

# A .def naming the DLL and the listed functions, and its import library.
function(ostrelin_import_library list dll out)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${windows_dir}/${list}.symbols)
  file(STRINGS ${windows_dir}/${list}.symbols names REGEX "^[A-Za-z_]")
  list(JOIN names "\n" body)
  file(MAKE_DIRECTORY ${sdk_dir}/lib)
  file(WRITE ${sdk_dir}/lib/${list}.def "LIBRARY ${dll}\nEXPORTS\n${body}\n")
  set(lib ${sdk_dir}/lib/lib${list}.dll.a)
  execute_process(COMMAND ${CMAKE_DLLTOOL} -d ${sdk_dir}/lib/${list}.def -l ${lib} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dlltool could not make ${lib}")
  endif()
  set(${out} ${lib} PARENT_SCOPE)
endfunction()
ostrelin_import_library(obs obs.dll obs_lib)

add_library(OBS::libobs INTERFACE IMPORTED)
target_include_directories(OBS::libobs INTERFACE ${windows_dir}/include ${OSTRELIN_OBS_INCLUDE_DIR})
target_link_libraries(OBS::libobs INTERFACE ${obs_lib})

# The static FFmpeg, and bcrypt, which libavutil's random seed calls on
# Windows whatever configure detected. Its symbols stay inside the DLL: its
# exports are the names of cmake/windows/ostrelin.def only.
set(ostrelin_ffmpeg_default_dir "${ostrelin_build_dir}/ffmpeg-windows")
set(ostrelin_ffmpeg_extra_libs -lbcrypt)
include(${CMAKE_CURRENT_LIST_DIR}/static-ffmpeg.cmake)
