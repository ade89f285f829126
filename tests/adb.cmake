# ADB host client: the payload parser, a stand-in server on a free port, the
# process-wide last-error text, overlapping failures, and the real adb server.
ostrelin_test(test-adb-client SOURCES test-adb-client.cpp test-adb-parse.cpp)
ostrelin_test(test-adb-posix SOURCES test-adb-posix.cpp)
ostrelin_test(test-adb-last-error SOURCES test-adb-last-error.cpp)
ostrelin_test(test-adb-threads SOURCES test-adb-threads.cpp LABELS threaded)
# The real server listens on the fixed port 5037, shared with every other test that uses it.
ostrelin_test(test-adb-real-server SOURCES test-adb-real-server.cpp PROPERTIES RESOURCE_LOCK port5037)
