# What the Windows build links against without an OBS or FFmpeg SDK for
# Windows: their headers from folders on this machine, and import libraries
# for obs.dll and FFmpeg's DLLs made from the lists of the functions the module
# calls (cmake/windows/*.symbols; a test compares the lists with what the
# Linux build imports). The DLL names follow the FFmpeg headers compiled with.
#
# By default OBS 32's: libobs 32.2.2's headers and FFmpeg 8.1.2's, both put
# in build/ by scripts/build-windows.sh. For another OBS, point these at its
# SDK: its libobs headers, the folder holding its libavcodec/ and libavutil/
# headers.
get_filename_component(ostrelin_build_dir ${CMAKE_CURRENT_LIST_DIR}/../build ABSOLUTE)
set(OSTRELIN_OBS_INCLUDE_DIR "${ostrelin_build_dir}/obs32-sdk/root/usr/include/obs" CACHE PATH "libobs headers")
set(OSTRELIN_FFMPEG_INCLUDE_DIR "${ostrelin_build_dir}/ffmpeg-windows/include" CACHE PATH
                                "Folder holding libavcodec/ and libavutil/")
if(NOT EXISTS ${OSTRELIN_OBS_INCLUDE_DIR}/obs-config.h)
  message(FATAL_ERROR "No libobs headers in ${OSTRELIN_OBS_INCLUDE_DIR} (scripts/build-windows.sh puts OBS 32's there)")
endif()

set(windows_dir ${CMAKE_CURRENT_LIST_DIR}/windows)
set(sdk_dir ${CMAKE_BINARY_DIR}/windows-sdk)

# FFmpeg's header folder on Linux also holds the C library's own headers, which
# must not shadow mingw-w64's: only libavcodec/ and libavutil/ are linked in.
file(MAKE_DIRECTORY ${sdk_dir}/include ${sdk_dir}/lib)
foreach(lib libavcodec libavutil)
  if(NOT EXISTS ${OSTRELIN_FFMPEG_INCLUDE_DIR}/${lib}/version.h)
    message(FATAL_ERROR "No ${lib} headers in ${OSTRELIN_FFMPEG_INCLUDE_DIR} (scripts/build-windows.sh puts FFmpeg 8.1.2's there)")
  endif()
  file(REMOVE ${sdk_dir}/include/${lib})
  file(CREATE_LINK ${OSTRELIN_FFMPEG_INCLUDE_DIR}/${lib} ${sdk_dir}/include/${lib} SYMBOLIC)
endforeach()

# FFmpeg names its DLLs after the major version: avcodec-62.dll for FFmpeg 8.1.
function(ffmpeg_major lib macro out)
  set(header ${OSTRELIN_FFMPEG_INCLUDE_DIR}/${lib}/version_major.h)
  if(NOT EXISTS ${header})
    set(header ${OSTRELIN_FFMPEG_INCLUDE_DIR}/${lib}/version.h)
  endif()
  file(STRINGS ${header} line REGEX "#define ${macro} +[0-9]+")
  string(REGEX MATCH "[0-9]+$" major "${line}")
  set(${out} ${major} PARENT_SCOPE)
endfunction()
ffmpeg_major(libavcodec LIBAVCODEC_VERSION_MAJOR avcodec_major)
ffmpeg_major(libavutil LIBAVUTIL_VERSION_MAJOR avutil_major)

# A .def naming the DLL and the listed functions, and its import library.
function(ostrelin_import_library list dll out)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${windows_dir}/${list}.symbols)
  file(STRINGS ${windows_dir}/${list}.symbols names REGEX "^[A-Za-z_]")
  list(JOIN names "\n" body)
  file(WRITE ${sdk_dir}/lib/${list}.def "LIBRARY ${dll}\nEXPORTS\n${body}\n")
  set(lib ${sdk_dir}/lib/lib${list}.dll.a)
  execute_process(COMMAND ${CMAKE_DLLTOOL} -d ${sdk_dir}/lib/${list}.def -l ${lib} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dlltool could not make ${lib}")
  endif()
  set(${out} ${lib} PARENT_SCOPE)
endfunction()
ostrelin_import_library(obs obs.dll obs_lib)
ostrelin_import_library(avcodec avcodec-${avcodec_major}.dll avcodec_lib)
ostrelin_import_library(avutil avutil-${avutil_major}.dll avutil_lib)
message(STATUS "Windows DLLs imported: obs.dll avcodec-${avcodec_major}.dll avutil-${avutil_major}.dll")
set(OSTRELIN_FFMPEG_DLLS "avcodec-${avcodec_major}.dll;avutil-${avutil_major}.dll" CACHE INTERNAL "FFmpeg DLLs imported")

add_library(OBS::libobs INTERFACE IMPORTED)
target_include_directories(OBS::libobs INTERFACE ${windows_dir}/include ${OSTRELIN_OBS_INCLUDE_DIR})
target_link_libraries(OBS::libobs INTERFACE ${obs_lib})

add_library(PkgConfig::FFMPEG INTERFACE IMPORTED)
target_include_directories(PkgConfig::FFMPEG INTERFACE ${sdk_dir}/include)
target_link_libraries(PkgConfig::FFMPEG INTERFACE ${avcodec_lib} ${avutil_lib})
