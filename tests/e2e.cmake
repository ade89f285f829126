# The built module loaded as OBS loads it, against the reference sender: the
# picture, the sound, camera controls, the properties panel and its languages.
# Both talk to whatever listens on 127.0.0.1:5037 (the panel's device list, the
# forward removal), so they hold that port for the time of their run.
if(TARGET ostrelin-sender)
  foreach(name test-module-e2e test-properties)
    ostrelin_test(${name} SOURCES ${name}.cpp XVFB LABELS threaded PROPERTIES RESOURCE_LOCK port5037)
    target_compile_definitions(${name} PRIVATE OSTRELIN_SENDER_PATH="$<TARGET_FILE:ostrelin-sender>")
    add_dependencies(${name} ostrelin-sender)
  endforeach()
endif()
