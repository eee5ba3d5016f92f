# Run by CPack on the staged files of the Debian package (the tree under
# CPACK_TEMPORARY_INSTALL_DIRECTORY, with usr/ at its top), before the
# archive is made: the layout Debian's policy asks for, which a plain
# cmake --install to /usr/local does not need.

set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
if(NOT IS_DIRECTORY "${root}/usr")
  message(FATAL_ERROR "DebianStage: no staged usr/ in ${root}")
endif()
set(usr "${root}/usr")
set(doc "${usr}/${CPACK_MVSCAN_DOCDIR}")

# The module goes where Debian's python3 finds the modules of Debian
# packages, for every 3.X: /usr/lib/python3/dist-packages.
if(CPACK_MVSCAN_PYTHON_DIR)
  file(GLOB modules "${usr}/${CPACK_MVSCAN_PYTHON_DIR}/*")
  if(NOT modules)
    message(FATAL_ERROR "DebianStage: the Python module is not in ${usr}/${CPACK_MVSCAN_PYTHON_DIR}")
  endif()
  set(debianPython "${usr}/lib/python3/dist-packages")
  if(NOT "${usr}/${CPACK_MVSCAN_PYTHON_DIR}" STREQUAL debianPython)
    file(MAKE_DIRECTORY "${debianPython}")
    foreach(module ${modules})
      get_filename_component(name "${module}" NAME)
      file(RENAME "${module}" "${debianPython}/${name}")
    endforeach()
    # The emptied directories up to usr/lib.
    set(dir "${usr}/${CPACK_MVSCAN_PYTHON_DIR}")
    while(NOT dir STREQUAL "${usr}/lib" AND NOT dir STREQUAL usr)
      file(GLOB left "${dir}/*")
      if(left)
        break()
      endif()
      file(REMOVE_RECURSE "${dir}")
      get_filename_component(dir "${dir}" DIRECTORY)
    endwhile()
  endif()
  # A shared object is read, not run.
  file(GLOB sharedObjects "${debianPython}/*.so")
  foreach(so ${sharedObjects})
    file(CHMOD "${so}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endforeach()
endif()

# CPack stripped the symbols; the compiler's version notes (.comment, .note)
# go too, as Debian's own packages have them removed.
file(GLOB objects "${usr}/bin/*" "${usr}/lib/python3/dist-packages/*.so")
foreach(object ${objects})
  execute_process(COMMAND strip --remove-section=.comment --remove-section=.note "${object}"
                  RESULT_VARIABLE status)
  if(status)
    message(FATAL_ERROR "DebianStage: strip ${object} failed: ${status}")
  endif()
endforeach()

# Man pages and changelog compressed with gzip -9n: best compression and no
# file name or time stamp inside, so the same files make the same package.
function(gzip_file file)
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE status)
  if(status)
    message(FATAL_ERROR "DebianStage: gzip ${file} failed: ${status}")
  endif()
endfunction()
file(GLOB_RECURSE pages "${usr}/${CPACK_MVSCAN_MANDIR}/*.[1-9]")
foreach(page ${pages})
  gzip_file("${page}")
endforeach()

file(MAKE_DIRECTORY "${doc}")
file(COPY "${CPACK_MVSCAN_DEBIAN_DIR}/copyright" DESTINATION "${doc}"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The changelog of the package: one entry for the version being packed,
# dated now (or SOURCE_DATE_EPOCH, for a reproducible build).
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
# A native package's changelog is changelog.gz (changelog.Debian.gz is for
# a Debian revision of someone else's sources).
file(WRITE "${doc}/changelog"
     "${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n\n"
     "  * Packaged with CPack from the mvscan sources.\n\n"
     " -- ${CPACK_DEBIAN_PACKAGE_MAINTAINER}  ${date}\n")
gzip_file("${doc}/changelog")
