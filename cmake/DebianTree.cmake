# Run by CPack on the staged tree of the Debian package, before it is packed:
# what Debian's policy asks of a package beyond `cmake --install`. The manual
# pages compressed, the zsh completion where Debian's zsh looks, the user unit where Debian's are, the licence as
# a machine-readable copyright file, the changelog, and the one lintian tag
# that is meant (see packaging/debian/lintian-overrides).
set(usr ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
set(doc ${usr}/share/doc/${CPACK_PACKAGE_NAME})
set(debian ${CPACK_TARNEL_SOURCE_DIR}/packaging/debian)

file(GLOB pages ${usr}/share/man/man1/*.1)
execute_process(COMMAND gzip -9n ${pages} COMMAND_ERROR_IS_FATAL ANY)

file(MAKE_DIRECTORY ${usr}/share/zsh/vendor-completions)
file(RENAME ${usr}/share/zsh/site-functions/_tarnelctl ${usr}/share/zsh/vendor-completions/_tarnelctl)
file(REMOVE_RECURSE ${usr}/share/zsh/site-functions)
file(MAKE_DIRECTORY ${usr}/lib/systemd/user)
file(RENAME ${usr}/share/systemd/user/tarneld.service ${usr}/lib/systemd/user/tarneld.service)
file(REMOVE_RECURSE ${usr}/share/systemd)

file(READ ${debian}/changelog changelog)
if(NOT changelog MATCHES "^${CPACK_PACKAGE_NAME} \\(${CPACK_PACKAGE_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog: its first entry is not version ${CPACK_PACKAGE_VERSION}; add one")
endif()
file(MAKE_DIRECTORY ${doc})
file(COPY_FILE ${debian}/changelog ${doc}/changelog)
execute_process(COMMAND gzip -9n ${doc}/changelog COMMAND_ERROR_IS_FATAL ANY)

# LICENSE, from its permission notice on, as the copyright file's licence text.
file(STRINGS ${CPACK_TARNEL_SOURCE_DIR}/LICENSE lines)
set(text "")
set(notice OFF)
foreach(line IN LISTS lines)
  if(line MATCHES "^Copyright \\(c\\) (.*)")
    set(holders ${CMAKE_MATCH_1})
  elseif(line MATCHES "^Permission ")
    set(notice ON)
  endif()
  if(notice AND line STREQUAL "")
    string(APPEND text " .\n")
  elseif(notice)
    string(APPEND text " ${line}\n")
  endif()
endforeach()
file(WRITE ${doc}/copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${CPACK_PACKAGE_NAME}
Upstream-Contact: ${CPACK_PACKAGE_CONTACT}
Source: ${CPACK_TARNEL_HOMEPAGE}

Files: *
Copyright: ${holders}
License: Expat

License: Expat
${text}")

file(MAKE_DIRECTORY ${usr}/share/lintian/overrides)
file(COPY_FILE ${debian}/lintian-overrides ${usr}/share/lintian/overrides/${CPACK_PACKAGE_NAME})
