# Warnings for our own code; CI builds make them errors (ROBOTAS_WERROR), a
# user's newer compiler with new warnings still builds the robot.
# CI sets the environment variable ROBOTAS_WERROR=ON for every build it makes.
set(werror_default OFF)
if(DEFINED ENV{ROBOTAS_WERROR})
  set(werror_default $ENV{ROBOTAS_WERROR})
endif()
option(ROBOTAS_WERROR "Treat warnings in the robot's own code as errors" ${werror_default})
function(robotas_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow)
  if(ROBOTAS_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# A static library for one subsystem folder: every .cpp in the folder.
function(robotas_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  robotas_warnings(${name})
endfunction()

# Adds every sub-folder of DIR that holds a CMakeLists.txt.
function(robotas_add_subfolders dir)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/${dir}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# One GoogleTest program; every TEST in it becomes a ctest test.
# robotas_test(NAME name SOURCES ... LIBS ... [LOCKS lock...] [TIMEOUT s])
function(robotas_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LOCKS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} robotas_testsupport GTest::gtest GTest::gtest_main)
  robotas_warnings(${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # A sanitizer build (Debug, every access checked) runs the recogniser's
  # decoding some thirty times slower: the limit stays a guard against hangs.
  if(ROBOTAS_SANITIZE)
    math(EXPR T_TIMEOUT "${T_TIMEOUT} * 4")
  endif()
  # Paths of test data, built programs and cascades are compiled into the
  # test support library (tests/support/robot_test.h).
  set(props TIMEOUT ${T_TIMEOUT})
  if(T_LOCKS)
    list(APPEND props RESOURCE_LOCK "${T_LOCKS}")
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
