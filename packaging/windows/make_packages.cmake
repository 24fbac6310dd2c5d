# CPack's External generator runs this once it has staged the installed files in a folder named
# as the packages are: makensis builds the installer from them, and the zip holds that folder,
# so both carry the same files. The installer's version is CPack's package version, so that
# `cpack -D CPACK_PACKAGE_VERSION=...` can make one of another version from the same files.
set(installer ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}-setup.exe)
set(zip ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.zip)
execute_process(
    COMMAND makensis -V2 -DVERSION=${CPACK_PACKAGE_VERSION} -DBITS=${CPACK_TARVELO_BITS}
            -DSTAGING=${CPACK_TEMPORARY_DIRECTORY} -DFILES=${CPACK_TARVELO_NSIS_FILES}
            -DOUTFILE=${installer} ${CPACK_TARVELO_NSIS_SCRIPT}
    COMMAND_ERROR_IS_FATAL ANY)
cmake_path(GET CPACK_TEMPORARY_DIRECTORY FILENAME folder)
execute_process(
    COMMAND ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip ${folder}
    WORKING_DIRECTORY ${CPACK_TOPLEVEL_DIRECTORY}
    COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_EXTERNAL_BUILT_PACKAGES ${installer} ${zip})
