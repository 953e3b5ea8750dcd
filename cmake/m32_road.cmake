# Which road the 32-bit programs take on this machine. Where the kernel runs
# i386 programs they run as they are; where it does not (some x86-64 kernels
# are built or booted without it), or where TRQ_M32_EMULATOR names an emulator,
# every 32-bit program runs under that emulator: the test discovery and ctest
# through CMAKE_CROSSCOMPILING_EMULATOR, and the programs a test starts as
# child processes through the test support's program_command().
# Sets TRQ_M32_ROAD ("native" or "emulated (why): PATH") for scripts/test.sh.
set(TRQ_M32_EMULATOR "$ENV{TRQ_M32_EMULATOR}" CACHE STRING
    "Run the 32-bit programs under this emulator even where the kernel runs them (empty: only where it does not)")

set(probe_dir ${CMAKE_BINARY_DIR}/m32-probe)
file(WRITE ${probe_dir}/probe.c "int main(void) { return 0; }\n")
try_compile(probe_built ${probe_dir}/build SOURCES ${probe_dir}/probe.c
            COPY_FILE ${probe_dir}/probe OUTPUT_VARIABLE probe_log)
if(NOT probe_built)
  message(FATAL_ERROR "The 32-bit compilers build no i386 program (gcc-multilib, g++-multilib):\n${probe_log}")
endif()

function(trq_m32_runs result)
  execute_process(COMMAND ${ARGN} ${probe_dir}/probe RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(rc STREQUAL "0")
    set(${result} ON PARENT_SCOPE)
  else()
    set(${result} OFF PARENT_SCOPE)
  endif()
endfunction()

set(emulator "${TRQ_M32_EMULATOR}")
if(NOT emulator)
  trq_m32_runs(native)
  if(NOT native)
    set(emulator qemu-i386)
    set(why "this kernel runs no i386 program")
  endif()
else()
  set(why "TRQ_M32_EMULATOR=${TRQ_M32_EMULATOR}")
endif()

if(emulator)
  find_program(emulator_path NAMES ${emulator} NO_CACHE)
  if(NOT emulator_path)
    message(FATAL_ERROR "${why}, and ${emulator} is not installed (Debian package qemu-user; scripts/setup.sh installs it)")
  endif()
  trq_m32_runs(emulated ${emulator_path})
  if(NOT emulated)
    message(FATAL_ERROR "${why}, and ${emulator_path} does not run an i386 program either")
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${emulator_path})
  set(TRQ_M32_ROAD "emulated (${why}): ${emulator_path}" CACHE INTERNAL "")
else()
  unset(CMAKE_CROSSCOMPILING_EMULATOR)
  unset(CMAKE_CROSSCOMPILING_EMULATOR CACHE)
  set(TRQ_M32_ROAD "native" CACHE INTERNAL "")
endif()
message(STATUS "32-bit programs run ${TRQ_M32_ROAD}")
