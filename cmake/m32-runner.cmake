# How the 32-bit build's programs run in its tests: natively where the kernel
# runs 32-bit code, decided by building and running a tiny -m32 program, and
# under qemu's user-mode emulator where it does not.  Sets
# QAPI_M32_EMULATOR: the emulator's path, or empty when the programs run
# natively (cached; -DQAPI_M32_EMULATOR=/usr/bin/qemu-i386 forces the
# emulator).
if(NOT DEFINED QAPI_M32_EMULATOR)
  try_run(qapi_m32_runs qapi_m32_builds ${PROJECT_BINARY_DIR}/m32-probe ${CMAKE_CURRENT_LIST_DIR}/probe/runs.c
          COMPILE_DEFINITIONS -m32 LINK_OPTIONS -m32)
  if(NOT qapi_m32_builds)
    message(FATAL_ERROR "the compiler builds no 32-bit program (Debian: g++-multilib)")
  endif()
  if(qapi_m32_runs EQUAL 0)
    set(emulator "")
    message(STATUS "32-bit programs run natively here")
  else()
    find_program(QAPI_QEMU_I386 qemu-i386 REQUIRED)
    set(emulator ${QAPI_QEMU_I386})
    message(STATUS "32-bit programs do not run here: the tests run them under ${emulator}")
  endif()
  set(QAPI_M32_EMULATOR "${emulator}" CACHE STRING "Runs the 32-bit build's programs in its tests (empty: natively)")
endif()
