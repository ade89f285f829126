# The reference phone sender, run as a child process and read over loopback.
# It is built only where tools are (Linux, OSTRELIN_TOOLS on).
if(TARGET ostrelin-sender)
  foreach(name test-sender test-sender-misbehave test-sender-decode test-sender-measure)
    ostrelin_test(${name} SOURCES ${name}.cpp)
    target_compile_definitions(${name} PRIVATE OSTRELIN_SENDER_PATH="$<TARGET_FILE:ostrelin-sender>")
    add_dependencies(${name} ostrelin-sender)
  endforeach()
endif()
