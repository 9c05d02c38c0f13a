# Run by CPack on its staging tree before it packs a Debian package: Debian
# wants manual pages and the changelog compressed with gzip -9n (no name, no
# time stamp, so the package is reproducible), and a copyright file beside the
# changelog in /usr/share/doc/morla. Other generators take the tree as it is.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(prefix "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
if(NOT IS_DIRECTORY "${prefix}")
  message(FATAL_ERROR "no staging tree at ${prefix}")
endif()

function(compress file)
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip -9n ${file} failed: ${status}")
  endif()
endfunction()

file(GLOB_RECURSE pages "${prefix}/share/man/*.[1-9]")
foreach(page IN LISTS pages)
  compress("${page}")
endforeach()

set(doc "${prefix}/share/doc/${CPACK_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${doc}")
configure_file("${CPACK_MORLA_PACKAGING_DIR}/changelog.in" "${doc}/changelog" @ONLY)
compress("${doc}/changelog")
configure_file("${CPACK_MORLA_PACKAGING_DIR}/copyright" "${doc}/copyright" COPYONLY)
