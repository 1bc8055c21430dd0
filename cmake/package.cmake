# The Debian package of the talvik tool (`make deb`): what the install rules install, under
# /usr. Its dependencies come from dpkg-shlibdeps, so they are exactly the shared libraries
# talvik links (the C and C++ runtimes; zstd and zlib are linked in).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME talvik)
set(CPACK_PACKAGE_VENDOR "Talvik")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "makes one-file launchers for 64-bit Windows applications")
# Lines of a Debian description stay under 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "talvik packs a folder holding a 64-bit Windows application into one console
.exe that unpacks the application into a per-user cache folder on start and
runs it, passing on its arguments and exit code.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Talvik developers <talvik@localhost>" CACHE STRING "package maintainer")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
