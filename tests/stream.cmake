ostrelin_test(test-stream-protocol SOURCES test-stream-protocol.cpp WIRE_ONLY)
ostrelin_test(test-clock-sync SOURCES test-clock-sync.cpp)
ostrelin_test(test-receive-loop SOURCES test-receive-loop.cpp XVFB LABELS threaded)
