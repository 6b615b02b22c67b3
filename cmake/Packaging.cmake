# What `cmake --install` puts beside halvex-pack, and the packages CPack makes
# of it: a Debian package of the host build, a zip of the Windows build.
# tools/package.sh makes both.
if(WIN32)
  install(FILES README.md DESTINATION .)
else()
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/halvex-pack)
endif()

set(CPACK_PACKAGE_NAME halvex-pack)
set(CPACK_PACKAGE_VENDOR "The Halvex developers")
set(CPACK_PACKAGE_CONTACT "Halvex developers <halvex@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "builds and checks Halvex self-extracting setup programs for Windows")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "halvex-pack makes a self-archive of a Windows setup program: one 32-bit\n"
  "executable holding a tiny launcher and the setup program compressed in\n"
  "the SZDD format, which Windows' own LZ32 expands.  It also verifies\n"
  "self-archives (signed or not, with a JSON report for build pipelines),\n"
  "extracts their setup program, and compresses and expands single SZDD\n"
  "files.  The launcher image it embeds is installed under share/halvex.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://example.org/halvex")
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "halvex-pack-${PROJECT_VERSION}-win32")
  # Unpacked, the zip gives one folder holding the three files.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
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
