# The Python interpreter of each purpose of the tests, found at each configure
# by scripts/python.sh: the first that imports every module the purpose needs.
# The first python3 on PATH is often a version manager's, without the packages
# that scripts/setup.sh installs for the system's.
#
# For test programs: tarnel_python_definitions(TARGET) defines, for each
# purpose, PYTHON3_<PURPOSE>="<path>" (empty when no interpreter has its
# modules) and PYTHON3_HAS_<PURPOSE>=0 or 1.
set(TARNEL_PYTHON_PURPOSES JSONSCHEMA)
set(TARNEL_PYTHON_JSONSCHEMA_MODULES jsonschema)  # the agents' schemas
if(NOT APPLE)
  list(APPEND TARNEL_PYTHON_PURPOSES DBUSMOCK)
  set(TARNEL_PYTHON_DBUSMOCK_MODULES dbusmock gi)  # a mock logind for the daemon's tests
endif()

foreach(purpose ${TARNEL_PYTHON_PURPOSES})
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/python.sh ${TARNEL_PYTHON_${purpose}_MODULES}
                  OUTPUT_VARIABLE TARNEL_PYTHON_${purpose} OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  string(REPLACE ";" " and " modules "${TARNEL_PYTHON_${purpose}_MODULES}")
  if(TARNEL_PYTHON_${purpose})
    message(STATUS "Python with ${modules}: ${TARNEL_PYTHON_${purpose}}")
  else()
    message(STATUS "No python3 here imports ${modules}: the tests that need them will be skipped (scripts/setup.sh test)")
  endif()
endforeach()

function(tarnel_python_definitions target)
  foreach(purpose ${TARNEL_PYTHON_PURPOSES})
    set(has 0)
    if(TARNEL_PYTHON_${purpose})
      set(has 1)
    endif()
    target_compile_definitions(${target} PRIVATE PYTHON3_${purpose}="${TARNEL_PYTHON_${purpose}}" PYTHON3_HAS_${purpose}=${has})
  endforeach()
endfunction()
