# Stages what `make install` installs (WORK_DIR/stage/usr/local/...) and builds the Debian
# package (WORK_DIR/package/talvik_<version>_amd64.deb) from the host build HOST_BUILD_DIR.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${WORK_DIR}/stage
                        ${CMAKE_COMMAND} --install ${HOST_BUILD_DIR} --prefix /usr/local --strip
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CPACK} --config ${HOST_BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR}/package
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
