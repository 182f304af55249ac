# Run by cpack on the files staged for the Debian package, before it packs
# them. Debian wants the program without the compilers' notes in .comment,
# which nothing reads at run time (cpack has stripped its symbols already);
# the manual page and a changelog compressed with "gzip -9n" (no name, no time
# stamp: the same bytes on every build); and the licence in the file
# copyright.

set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc_dir "${root}/${CPACK_KESTRANE_DOC_DIR}")

set(program "${root}/${CPACK_KESTRANE_PROGRAM}")
if(NOT CPACK_KESTRANE_OBJCOPY)
  message(FATAL_ERROR "no objcopy to remove the .comment section of ${program}")
endif()
execute_process(COMMAND "${CPACK_KESTRANE_OBJCOPY}" --remove-section=.comment "${program}"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objcopy could not remove the .comment section of ${program}: ${status}")
endif()

function(compress file)
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${file}: ${status}")
  endif()
endfunction()

compress("${root}/${CPACK_KESTRANE_MAN_DIR}/kestrane.1")
file(RENAME "${doc_dir}/${CPACK_KESTRANE_LICENSE_NAME}" "${doc_dir}/copyright")

# The package is built from its own sources, so its changelog is the native
# kind with one entry: this version. SOURCE_DATE_EPOCH fixes the date.
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${doc_dir}/changelog"
"${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium

  * Kestrane ${CPACK_PACKAGE_VERSION}, built from its sources; README.md
    tells what it does, CHANGELOG.md what changed.

 -- ${CPACK_PACKAGE_CONTACT}  ${date}
")
compress("${doc_dir}/changelog")
