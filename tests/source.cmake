ostrelin_test(test-stream-thread SOURCES test-stream-thread.cpp XVFB LABELS threaded)
