# Installs the built core into a fresh prefix, then configures, builds and runs the
# consumer project against that prefix alone. Run with cmake -P; expects BUILD_DIR,
# PREFIX, SOURCE_DIR, WORK_DIR, GENERATOR, CXX and CONFIG.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

if(NOT CONFIG)
  set(CONFIG Release)
endif()
file(REMOVE_RECURSE ${PREFIX} ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX} --config ${CONFIG}
    --component tarnwhisk_core_dev)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR} -G ${GENERATOR}
    -DCMAKE_BUILD_TYPE=${CONFIG} -DCMAKE_CXX_COMPILER=${CXX}
    -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
run(${CMAKE_COMMAND} --build ${WORK_DIR} --config ${CONFIG})
find_program(consumer consumer PATHS ${WORK_DIR} ${WORK_DIR}/${CONFIG} NO_DEFAULT_PATH REQUIRED)
run(${consumer})
message(STATUS "consumer built and ran against ${PREFIX}")
