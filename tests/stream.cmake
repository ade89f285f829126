ostrelin_test(test-stream-protocol SOURCES test-stream-protocol.cpp)
ostrelin_test(test-clock-sync SOURCES test-clock-sync.cpp)
