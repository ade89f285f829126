# The plug-in inside a real OBS Studio (Debian's obs-studio), driven through
# obs-websocket against the reference sender: see real-obs/run.sh. Fails,
# saying why, where OBS is not installed. Needs root (a network namespace of
# its own) and the sender, so only where tools are built.
if(TARGET ostrelin-sender)
  add_test(NAME real-obs COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/real-obs/run.sh $<TARGET_FILE:ostrelin>
                                 $<TARGET_FILE:ostrelin-sender>)
  set_tests_properties(real-obs PROPERTIES LABELS real-obs TIMEOUT 300)
endif()
