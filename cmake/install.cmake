# Two layouts, as OBS on Linux looks for plug-ins:
#   per user (OSTRELIN_INSTALL_LAYOUT=user, prefix ~/.config/obs-studio/plugins):
#     ostrelin/bin/64bit/ostrelin.so, ostrelin/data/locale/*.ini and ostrelin/data/manifest.json
#   system-wide (OSTRELIN_INSTALL_LAYOUT=system, prefix /usr):
#     lib/<triplet>/obs-plugins/ostrelin.so and share/obs/obs-plugins/ostrelin/{locale/*.ini,manifest.json}
include(GNUInstallDirs)
set(OSTRELIN_INSTALL_LAYOUT "system" CACHE STRING "Install layout: user or system")

if(OSTRELIN_INSTALL_LAYOUT STREQUAL "user")
  install(TARGETS ostrelin LIBRARY DESTINATION ostrelin/bin/64bit)
  install(DIRECTORY ${OSTRELIN_BUILD_DATA_DIR}/ DESTINATION ostrelin/data)
else()
  install(TARGETS ostrelin LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/obs-plugins)
  install(DIRECTORY ${OSTRELIN_BUILD_DATA_DIR}/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/obs/obs-plugins/ostrelin)
endif()
