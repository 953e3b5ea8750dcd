# Build helpers shared by every directory.
#
# trq_library(NAME [DEPS lib...] [SOURCES extra...])
#   A static library of every *.cpp in the calling directory (new files join
#   without editing any CMakeLists.txt). Includes are rooted at the source tree:
#   #include "support/Qv_err.h".
function(trq_library name)
  cmake_parse_arguments(A "" "" "DEPS;SOURCES;EXCLUDE" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(ex ${A_EXCLUDE})
    list(FILTER srcs EXCLUDE REGEX "/${ex}$")
  endforeach()
  list(APPEND srcs ${A_SOURCES})
  if(NOT srcs)
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${A_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_DEPS})
  target_compile_definitions(${name} PRIVATE TRQ_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endfunction()

# trq_test_dir(NAME LIBS lib... [ENV VAR=value...])
#   One GoogleTest program test_NAME of every *.cpp in the calling directory,
#   registered with CTest test by test.
function(trq_test_dir name)
  cmake_parse_arguments(A "" "" "LIBS;ENV" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(test_${name} ${srcs})
  target_link_libraries(test_${name} PRIVATE ${A_LIBS} trq_testsupport GTest::gmock GTest::gtest_main GTest::gtest)
  target_compile_definitions(test_${name} PRIVATE TRQ_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TRQ_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(test_${name} DISCOVERY_TIMEOUT 60)
  # The discovery script splits a list-valued ENVIRONMENT into separate
  # arguments (only the first variable would arrive): set it afterwards on the
  # tests it found.
  set(env QV_UI=headless QT_QPA_PLATFORM=offscreen ${A_ENV})
  set(env_file ${CMAKE_CURRENT_BINARY_DIR}/test_${name}_env.cmake)
  file(WRITE ${env_file} "foreach(t IN LISTS test_${name}_TESTS)\n"
    "  set_tests_properties(\"\${t}\" PROPERTIES ENVIRONMENT \"${env}\")\n"
    "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${env_file})
endfunction()
