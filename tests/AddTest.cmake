# kvelv_add_test: one call per test program, carrying all there is to know about it.
#
#   kvelv_add_test(<area>/<Name> [SOURCES <file>...] [LIBS <library>...] [LABELS <label>...]
#                  [POSIX_SOURCES <file>...] [DEPENDS <target>...] [DEFINITIONS <definition>...] [QT] [WINDOWS | WINDOWS_ONLY])
#
# <area>/<Name> is the program's target, <area>_<Name>, and its main source, tests/<area>/<Name>.cpp
# (when there is one: a program of several units may have SOURCES only). SOURCES adds sources (relative to tests/ or absolute), POSIX_SOURCES sources only the Linux
# build takes, LIBS libraries, DEPENDS
# programs the test starts, DEFINITIONS compile definitions (their paths, say). QT makes
# it a Qt Test program of the windows (linked with kvelv_ui, run offscreen) instead of a
# GoogleTest one. WINDOWS builds it in the Windows build too, run under Wine; WINDOWS_ONLY there
# alone.
#
# CTest labels say what a test needs and how it runs (ctest -L <label>):
#   unit      the libraries alone (the default); system   starts the built programs;
#   slow      a minute or more of work;          threaded the multi-threaded parts (the TSAN run);
#   peers     other tools (zip, unzip, 7z, bsdtar, python3, openssl);
#   gui       Qt Test cases of the windows (QT); wine     the Windows build under Wine (added there).
# The ThreadSanitizer run builds the target kvelv_threaded_tests: every program labelled threaded.

# gtest_discover_tests' PROPERTIES cannot carry a list (the build's discovery step splits it), so
# the labels of the discovered tests are set from a file CTest reads after the discovered tests
# (hence deferred to the end of this folder). GoogleTest programs are added from tests/ itself.
set(KVELV_GTEST_LABELS_FILE ${CMAKE_CURRENT_BINARY_DIR}/kvelv_gtest_labels.cmake)
file(WRITE ${KVELV_GTEST_LABELS_FILE} "")
cmake_language(DEFER CALL set_property DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${KVELV_GTEST_LABELS_FILE})
add_custom_target(kvelv_threaded_tests)

function(kvelv_add_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "QT;WINDOWS;WINDOWS_ONLY" "" "SOURCES;POSIX_SOURCES;LIBS;LABELS;DEPENDS;DEFINITIONS")
  if(WIN32 AND NOT (arg_WINDOWS OR arg_WINDOWS_ONLY))
    return()
  elseif(NOT WIN32 AND arg_WINDOWS_ONLY)
    return()
  endif()
  set(tests ${PROJECT_SOURCE_DIR}/tests)
  string(REPLACE "/" "_" target ${name})
  get_filename_component(base ${name} NAME)
  set(sources "")
  if(EXISTS ${tests}/${name}.cpp)
    set(sources ${tests}/${name}.cpp)
  endif()
  if(NOT WIN32)
    list(APPEND arg_SOURCES ${arg_POSIX_SOURCES})
  endif()
  foreach(source IN LISTS arg_SOURCES)
    if(IS_ABSOLUTE ${source})
      list(APPEND sources ${source})
    else()
      list(APPEND sources ${tests}/${source})
    endif()
  endforeach()
  set(labels ${arg_LABELS})
  if(arg_QT)
    list(APPEND labels gui)
  endif()
  if(NOT system IN_LIST labels)
    list(PREPEND labels unit)
  endif()
  if(WIN32)
    list(PREPEND labels wine)
  endif()

  if(arg_QT)
    if(WIN32)
      set(target windows_ui_${base})
    endif()
    add_executable(${target} ${sources})
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PRIVATE kvelv_ui Qt6::Test kvelv_warnings ${arg_LIBS})
    set_target_properties(${target} PROPERTIES AUTOMOC ON)
    add_test(NAME ${target} COMMAND ${target})
    if(WIN32)
      kvelv_link_qt_plugins(${target})
      set(environment ${KVELV_WINE_QT_ENVIRONMENT})
    else()
      set(environment QT_QPA_PLATFORM=offscreen)
    endif()
    set_tests_properties(${target} PROPERTIES TIMEOUT 300 LABELS "${labels}" ENVIRONMENT "${environment}")
  else()
    add_executable(${target} ${sources})
    if(WIN32)
      target_link_libraries(${target} PRIVATE kvelv_test_main ZLIB::ZLIB kvelv_warnings ${arg_LIBS})
      # Listed when the tests run, not at build time: the build needs no Wine.
      gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)
    else()
      target_link_libraries(${target} PRIVATE kvelv_test_support GTest::gtest_main ZLIB::ZLIB kvelv_warnings
                                              ${arg_LIBS})
      gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
    endif()
    file(APPEND ${KVELV_GTEST_LABELS_FILE}
         "if(${target}_TESTS)\n  set_tests_properties(\${${target}_TESTS} PROPERTIES LABELS \"${labels}\")\nendif()\n")
  endif()
  if(arg_DEPENDS)
    add_dependencies(${target} ${arg_DEPENDS})
  endif()
  if(arg_DEFINITIONS)
    target_compile_definitions(${target} PRIVATE ${arg_DEFINITIONS})
  endif()
  if(threaded IN_LIST labels)
    add_dependencies(kvelv_threaded_tests ${target})
  endif()
endfunction()
