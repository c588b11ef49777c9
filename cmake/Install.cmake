# What "cmake --install" puts under the prefix:
#   bin/fetchora                 the browser window (and "fetchora --add")
#   bin/fetchora-regsvr          the registration tool
#   lib/fetchora/Fetchora.so     the band library, with help/index.html beside it
#   share/icons/hicolor/scalable/apps/fetchora.svg, share/applications/fetchora.desktop
# The band keeps its queue, credential and history files beside Fetchora.so, so
# lib/fetchora must be writable by the user who runs it (a prefix of the user's own,
# such as ~/.local). On its first start fetchora registers the library it finds beside
# itself or in ../lib/fetchora.
include(GNUInstallDirs)
# Always lib/fetchora (never a multiarch folder): the program looks for ../lib/fetchora.
set(FETCHORA_INSTALL_LIBRARY_DIR lib/fetchora)

install(TARGETS fetchora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS fetchora_regsvr RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS fetchora_band_module LIBRARY DESTINATION ${FETCHORA_INSTALL_LIBRARY_DIR})
install(FILES ${FETCHORA_HELP_PAGE} DESTINATION ${FETCHORA_INSTALL_LIBRARY_DIR}/help)
install(FILES ${PROJECT_SOURCE_DIR}/src/host/fetchora.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/src/host/fetchora.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
