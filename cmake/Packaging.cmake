# The Debian package: cpack -G DEB in the build tree makes mvscan_<version>_<arch>.deb
# with both programs, their man pages, the documents, the bash completions
# and the Python module for the system's python3.
#
# CPack installs the project's own install rules into a staging tree with
# the prefix /usr; DebianStage.cmake then gives that tree the layout Debian
# wants (compressed man pages, the copyright file and changelog, the module
# where python3 looks for Debian's modules) before the archive is made.

set(CPACK_PACKAGE_NAME mvscan)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the mvscan developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "inspect MORVEN readout data files of Vexar7 pixel chips")
set(CPACK_PACKAGE_DESCRIPTION
    "mvscan walks the chunks of the data files that the MORVEN readout system\n\
writes for Vexar7 pixel-detector chips and checks their structure, prints\n\
their JSON and register payloads, scans their pixel packets for statistics\n\
and a hit-count picture, decodes packets for display, checks test-generator\n\
and counter streams, and merges the statistics of many runs exactly.\n\
.\n\
The package also holds mvgen, which writes synthetic MORVEN files, and the\n\
Python module morven, the same inspector for python3 and numpy.")
set(MVSCAN_PACKAGE_MAINTAINER "mvscan maintainers <mvscan-maintainers@example.org>"
    CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${MVSCAN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MVSCAN_PACKAGE_MAINTAINER}")

set(CPACK_GENERATOR DEB)
# Installed with DESTDIR and the prefix /usr, so that the prefix the install
# rules see is /usr: the installed man page of mvscan names
# /usr/share/doc/mvscan.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A native package: the sources are packed as they are, with no separate
# Debian revision (the version is the project's).
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs and the module link (libc, libstdc++, libgcc,
# libpng), found by dpkg-shlibdeps in the staged files.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")

# The module is built for one version of the interpreter (its file name
# carries the ABI, cpython-311), so the package needs that python3 and
# numpy, which the module imports when it starts.
if(TARGET morven)
  if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
    set(Python3_EXECUTABLE /usr/bin/python3)
  endif()
  find_package(Python3 COMPONENTS Interpreter REQUIRED)
  set(pyVersion "${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}")
  math(EXPR pyNextMinor "${Python3_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "python3 (>= ${pyVersion}~), python3 (<< ${Python3_VERSION_MAJOR}.${pyNextMinor}), python3-numpy")
  set(CPACK_MVSCAN_PYTHON_DIR "${MVSCAN_PYTHON_INSTALL_DIR}")
endif()

set(CPACK_MVSCAN_DEBIAN_DIR "${CMAKE_CURRENT_LIST_DIR}/debian")
set(CPACK_MVSCAN_MANDIR "${CMAKE_INSTALL_MANDIR}")
set(CPACK_MVSCAN_DOCDIR "${CMAKE_INSTALL_DOCDIR}")
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/DebianStage.cmake")

include(CPack)
