# Run by CPack on the staged files before it packs them: adds what a Debian package carries
# beside the program, as dh_strip, dh_installdocs, dh_installchangelogs and dh_compress would.
# The manual pages and the changelog are compressed with gzip -9n (no name, no time stamp), so
# that two builds give the same bytes.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
if(NOT EXISTS "${root}/bin/kbxtool")
  message(FATAL_ERROR "debian-docs.cmake: no staged files under ${root}")
endif()
set(doc "${root}/share/doc/${CPACK_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${doc}")

function(gzip_into source target)
  execute_process(COMMAND gzip -9nc "${source}" OUTPUT_FILE "${target}" COMMAND_ERROR_IS_FATAL ANY)
  file(CHMOD "${target}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()

# CPack has stripped the programs of their symbols; the compiler's notes go as well.
file(GLOB programs "${root}/bin/*")
foreach(program IN LISTS programs)
  execute_process(COMMAND strip --remove-section=.comment --remove-section=.note "${program}"
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()

file(GLOB pages "${root}/share/man/man*/*.[1-9]")
foreach(page IN LISTS pages)
  gzip_into("${page}" "${page}.gz")
  file(REMOVE "${page}")
endforeach()
gzip_into("${CPACK_KBX_DIST_DIR}/changelog" "${doc}/changelog.gz")
file(COPY_FILE "${CPACK_KBX_DIST_DIR}/copyright" "${doc}/copyright")
file(CHMOD "${doc}/copyright" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(CHMOD "${root}/share/doc" "${doc}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
     GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
