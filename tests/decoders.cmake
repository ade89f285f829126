# H.264 and AAC decoders on the committed media of tests/fixtures.
ostrelin_test(test-decoder SOURCES test-decoder.cpp)
ostrelin_test(test-audio-decoder SOURCES test-audio-decoder.cpp)
