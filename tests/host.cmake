# The headless OBS host against the reference sender, and the install and
# uninstall scripts. The host's source removal asks whatever listens on
# 127.0.0.1:5037 to drop a forward, so its test holds that port.
if(TARGET ostrelin-obs-host AND TARGET ostrelin-sender)
  ostrelin_test(test-host SOURCES test-host.cpp XVFB PROPERTIES RESOURCE_LOCK port5037)
  target_compile_definitions(test-host PRIVATE OSTRELIN_SENDER_PATH="$<TARGET_FILE:ostrelin-sender>"
                                               OSTRELIN_HOST_PATH="$<TARGET_FILE:ostrelin-obs-host>")
  add_dependencies(test-host ostrelin-sender ostrelin-obs-host)
endif()

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  add_test(NAME install-scripts COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/test-install.sh $<TARGET_FILE_DIR:ostrelin>)
  set_tests_properties(install-scripts PROPERTIES TIMEOUT 60)
endif()
