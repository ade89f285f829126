ostrelin_test(test-net SOURCES test-net.cpp net-environment.cpp LABELS threaded)
ostrelin_test(test-thread SOURCES test-thread.cpp LABELS threaded)

# The Windows build's import and export lists against this module's own.
add_test(NAME windows-symbol-lists COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/check-symbol-lists.sh
                                           $<TARGET_FILE:ostrelin> ${PROJECT_SOURCE_DIR}/cmake/windows)
