# What `cmake --install` (and `make install`) puts under the prefix, and the
# Debian package built from the same rules (`make package`). Nothing here runs
# the program: installing never touches an agent's settings.
include(GNUInstallDirs)

configure_file(man/tarnelctl.1.in man/tarnelctl.1 @ONLY)

install(TARGETS tarnelctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# What `make install` builds: the programs installed, and nothing else.
add_custom_target(installables)
add_dependencies(installables tarnelctl)
install(FILES ${PROJECT_BINARY_DIR}/man/tarnelctl.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Each shell's completions where that shell looks for them by itself (the
# Debian package moves zsh's to Debian's place: cmake/DebianTree.cmake).
install(FILES completions/tarnelctl.bash RENAME tarnelctl
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES completions/_tarnelctl DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/site-functions)
install(FILES completions/tarnelctl.fish DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)

set(CPACK_PACKAGE_NAME tarnelctl)
set(CPACK_PACKAGE_VENDOR "Tarnel")
set(CPACK_PACKAGE_CONTACT "Tarnel developers <dev@tarnel.dev>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "tarnelctl sends commands to the Tarnel application and prints its
replies, and installs an opt-in heartbeat hook for AI coding agents (Claude
Code, Codex, Gemini CLI, Cursor, Qwen Code, GitHub Copilot CLI, Factory Droid,
OpenCode, Cline, Windsurf) that keeps the computer awake while they work.
On Linux, tarneld is that application: a user service that answers those
commands and holds a systemd-logind inhibitor while anything needs the machine.")
set(CPACK_STRIP_FILES ON)
if(APPLE)
  set(CPACK_GENERATOR TGZ)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # computed by dpkg-shlibdeps: libc6, libsystemd0
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianTree.cmake)
  set(CPACK_TARNEL_SOURCE_DIR ${PROJECT_SOURCE_DIR})
  set(CPACK_TARNEL_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
endif()
include(CPack)

# tarneld (Linux), its manual page and its systemd user unit. The unit names the
# installed program, so it is written when installing, under the prefix of that
# install. share/systemd/user is where systemd's user instance looks under /usr,
# /usr/local and ~/.local alike (the Debian package moves it to Debian's place).
if(NOT APPLE)
  configure_file(man/tarneld.1.in man/tarneld.1 @ONLY)
  install(TARGETS tarneld RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  add_dependencies(installables tarneld)
  install(FILES ${PROJECT_BINARY_DIR}/man/tarneld.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(CODE "set(TARNELD_PATH \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tarneld\")
    configure_file(${PROJECT_SOURCE_DIR}/systemd/tarneld.service.in ${PROJECT_BINARY_DIR}/systemd/tarneld.service @ONLY)")
  install(FILES ${PROJECT_BINARY_DIR}/systemd/tarneld.service DESTINATION ${CMAKE_INSTALL_DATADIR}/systemd/user)
endif()
