# Interface language and module entry points: the shipped locale files, and the
# built module loaded into a real libobs (its language layer, exports, hooks).
ostrelin_test(test-locale-files SOURCES test-locale-files.cpp)
ostrelin_test(test-i18n SOURCES test-i18n.cpp XVFB)
ostrelin_test(test-module SOURCES test-module.cpp XVFB)
