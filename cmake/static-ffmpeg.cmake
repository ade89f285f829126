# A static, decoder-only FFmpeg linked into the module itself
# (scripts/build-ffmpeg.sh), as PkgConfig::FFMPEG: the Windows DLL and the
# portable Linux module carry their own decoders instead of needing one given
# FFmpeg's libraries. The caller sets OSTRELIN_FFMPEG_DIR's default first and
# may name more libraries in ostrelin_ffmpeg_extra_libs. The libraries the
# archives need are those their pkg-config files name (Libs.private).
set(OSTRELIN_FFMPEG_DIR "${ostrelin_ffmpeg_default_dir}" CACHE PATH
                        "Prefix of a static FFmpeg (include/, lib/libavcodec.a, lib/libavutil.a)")
set(ffmpeg_libs)
foreach(lib libavcodec libavutil)
  set(archive ${OSTRELIN_FFMPEG_DIR}/lib/${lib}.a)
  if(NOT EXISTS ${archive} OR NOT EXISTS ${OSTRELIN_FFMPEG_DIR}/include/${lib}/version.h)
    message(FATAL_ERROR "No static ${lib} in ${OSTRELIN_FFMPEG_DIR} (scripts/build-ffmpeg.sh builds it)")
  endif()
  list(APPEND ffmpeg_libs ${archive})
  file(STRINGS ${OSTRELIN_FFMPEG_DIR}/lib/pkgconfig/${lib}.pc private REGEX "^Libs.private:")
  string(REGEX MATCHALL "-l[A-Za-z0-9_]+" flags "${private}")
  list(APPEND ffmpeg_libs ${flags})
endforeach()
list(APPEND ffmpeg_libs ${ostrelin_ffmpeg_extra_libs})
list(REMOVE_DUPLICATES ffmpeg_libs)
message(STATUS "FFmpeg linked in: ${ffmpeg_libs}")

add_library(PkgConfig::FFMPEG INTERFACE IMPORTED)
target_include_directories(PkgConfig::FFMPEG INTERFACE ${OSTRELIN_FFMPEG_DIR}/include)
target_link_libraries(PkgConfig::FFMPEG INTERFACE ${ffmpeg_libs})
