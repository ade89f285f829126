# The benchmarks' arithmetic on recorded events, and the sender's drifting
# clock: plain code, tested with chosen values.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  ostrelin_test(
    test-bench-figures
    SOURCES
    test-bench-figures.cpp
    ${PROJECT_SOURCE_DIR}/bench/picture-figures.cpp
    ${PROJECT_SOURCE_DIR}/bench/picture-track.cpp
    ${PROJECT_SOURCE_DIR}/bench/send-log.cpp
    ${PROJECT_SOURCE_DIR}/bench/soak-figures.cpp
    ${PROJECT_SOURCE_DIR}/tools/sender/pattern.cpp)
  target_include_directories(test-bench-figures PRIVATE ${PROJECT_SOURCE_DIR}/bench ${PROJECT_SOURCE_DIR}/tools/sender)

  ostrelin_test(test-drift-clock SOURCES test-drift-clock.cpp ${PROJECT_SOURCE_DIR}/tools/sender/drift-clock.cpp)
  target_include_directories(test-drift-clock PRIVATE ${PROJECT_SOURCE_DIR}/tools/sender)
endif()
