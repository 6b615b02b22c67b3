# What `cmake --install` puts beside halvex-pack, and the packages CPack makes
# of it: a Debian package of the host build, a zip of the Windows build.
# tools/package.sh makes both.

# A git query in the source tree; empty when git or the answer is missing.
function(halvex_git out)
  execute_process(COMMAND git ${ARGN} WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE _answer OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  set(${out} "${_answer}" PARENT_SCOPE)
endfunction()

# The last commit dates the release: the manual page and the Debian
# changelog name it, so that the same checkout gives the same files.
# Without git, SOURCE_DATE_EPOCH or the time of configuring does.
halvex_git(_last_commit log -1 --format=%ct)
if(_last_commit)
  set(ENV{SOURCE_DATE_EPOCH} ${_last_commit})
endif()
string(TIMESTAMP HALVEX_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP HALVEX_RELEASE_TIME "%a, %d %b %Y %H:%M:%S +0000" UTC)

# Who the Debian package names as its maintainer: whoever builds it, as
# Debian's own tools find them (DEBFULLNAME and DEBEMAIL), else the git
# identity of the checkout, else the author of the last commit, which every
# clone has even on a machine with no identity set (a CI runner, a
# container). Only a tree without git falls back to the account and host.
function(halvex_builder_identity out)
  if(DEFINED ENV{DEBEMAIL})
    set(${out} "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>" PARENT_SCOPE)
    return()
  endif()
  halvex_git(_email config user.email)
  halvex_git(_name config user.name)
  if(NOT _email)
    halvex_git(_email log -1 --format=%ae)
    halvex_git(_name log -1 --format=%an)
  endif()
  if(_email)
    set(${out} "${_name} <${_email}>" PARENT_SCOPE)
  else()
    cmake_host_system_information(RESULT _host QUERY FQDN)
    set(${out} "${CPACK_PACKAGE_VENDOR} <$ENV{USER}@${_host}>" PARENT_SCOPE)
  endif()
endfunction()

set(CPACK_PACKAGE_NAME halvex-pack)
set(CPACK_PACKAGE_VENDOR "The Halvex developers")
halvex_builder_identity(_builder)
set(HALVEX_PACKAGE_MAINTAINER "${_builder}" CACHE STRING
    "Maintainer of the Debian package, as \"Name <address>\"")
set(CPACK_PACKAGE_CONTACT "${HALVEX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "builds and checks Halvex self-extracting setup programs for Windows")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "halvex-pack makes a self-archive of a Windows setup program: one 32-bit\n"
  "executable holding a tiny launcher and the setup program compressed in\n"
  "the SZDD format, which Windows' own LZ32 expands.  It also verifies\n"
  "self-archives (signed or not, with a JSON report for build pipelines),\n"
  "extracts their setup program, and compresses and expands single SZDD\n"
  "files.  The launcher image it embeds is installed under share/halvex.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CHECKSUM SHA256)

# Files made here for the install: compressed as Debian wants them (gzip -9,
# no name or time in the header).
function(halvex_gzip source out)
  add_custom_command(OUTPUT ${out}
                     COMMAND sh -c "gzip -9nc \"$1\" >\"$2\"" gzip ${source} ${out}
                     DEPENDS ${source} VERBATIM)
endfunction()

if(WIN32)
  install(FILES packaging/README.md LICENSE DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "halvex-pack-${PROJECT_VERSION}-win32")
  # Unpacked, the zip gives one folder holding its files.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(_doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/halvex-pack)
  # The licence as Debian's machine-readable copyright file (the MIT licence
  # is "Expat" there): the holder from its copyright line, the text with
  # every line indented and blank ones as " .".
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE _licence)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)\n\n(.*)" _ "${_licence}")
  set(_holder ${CMAKE_MATCH_1})
  string(STRIP "${CMAKE_MATCH_2}" _licence)
  string(REPLACE "\n\n" "\n.\n" _licence "${_licence}")
  string(REPLACE "\n" "\n " _licence " ${_licence}")
  file(WRITE ${CMAKE_BINARY_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: halvex-pack

Files: *
Copyright: ${_holder}
License: Expat
${_licence}
")
  configure_file(packaging/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
  halvex_gzip(${CMAKE_BINARY_DIR}/changelog ${CMAKE_BINARY_DIR}/changelog.gz)
  add_custom_target(halvex-changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
  install(FILES packaging/README.md ${CMAKE_BINARY_DIR}/copyright
                ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${_doc})

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends, with the versions the binary needs, from dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS osslsigncode)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # The Windows program is stripped when it is linked.
  set(CPACK_STRIP_FILES ON)
endif()

include(CPack)
