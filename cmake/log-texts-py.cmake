# Writes the plug-in's log texts (src/log/log-texts.h) as a Python module, one
# `LOGTEXT_NAME = "text"` line per text, for the tests written in Python.
# The compiler's preprocessor reads the header, so the module holds exactly
# the literals the plug-in is built with (escapes such as \" mean the same in
# both languages).
#
#   cmake -DCOMPILER=c++ -DHEADER=src/log/log-texts.h -DOUTPUT=log_texts.py -P log-texts-py.cmake
execute_process(
  COMMAND ${COMPILER} -dM -E -undef -x c++ ${HEADER}
  OUTPUT_VARIABLE defines
  COMMAND_ERROR_IS_FATAL ANY)
# Only the header's own names start without an underscore.
string(REGEX REPLACE "#define _[^\n]*\n" "" defines "${defines}")
string(REGEX REPLACE "#define (LOGTEXT_[A-Z0-9_]+) (\"[^\n]*\")\n" "\\1 = \\2\n" module "${defines}")
if(module MATCHES "#define" OR NOT module MATCHES "LOGTEXT_PREFIX = ")
  message(FATAL_ERROR "${HEADER}: a #define that is not one string literal:\n${module}")
endif()
file(WRITE ${OUTPUT} "# Generated from ${HEADER} by log-texts-py.cmake.\n${module}")
