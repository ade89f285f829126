ostrelin_test(test-stream-thread SOURCES test-stream-thread.cpp XVFB LABELS threaded)
ostrelin_test(test-lifecycle SOURCES test-lifecycle.cpp XVFB LABELS threaded)
ostrelin_test(test-source-stop SOURCES test-source-stop.cpp XVFB LABELS threaded)
ostrelin_test(test-source-stress SOURCES test-source-stress.cpp XVFB LABELS threaded TIMEOUT 600)
