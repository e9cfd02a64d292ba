# Tests of the Windows build, run under Wine through CMAKE_CROSSCOMPILING_EMULATOR.
# Included from tests/CMakeLists.txt when building for Windows: the Windows-specific suites in
# tests/windows/, the portable suites of the other areas listed below, and the exchange with
# the Linux build and the openssl command (run on the host, see exchange.sh).

# Windows twins of the shared helpers (no fork, no flock).
add_library(kvelv_test_support STATIC
  ${CMAKE_CURRENT_LIST_DIR}/support/TestSupport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/RunProcess.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/ArchiveMaker.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/RawDeflate.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/SealedTestSupport.cpp)
target_include_directories(kvelv_test_support PUBLIC ${PROJECT_SOURCE_DIR})
kvelv_add_test_paths(kvelv_test_support)
target_link_libraries(kvelv_test_support PUBLIC kvelv_app GTest::gtest PRIVATE kvelv_warnings)
add_library(kvelv_test_main STATIC ${CMAKE_CURRENT_LIST_DIR}/support/TestMain.cpp)
target_link_libraries(kvelv_test_main PUBLIC kvelv_test_support PRIVATE kvelv_warnings)

# Suites from the other areas that use nothing POSIX-only. (platform/CodePagesTest checks the
# table implementation; on Windows the system's conversions are checked by WinPlatformTest.)
set(KVELV_PORTABLE_TESTS
  platform/LongPathsTest
  zip/CommitTest
  zip/Crc32Test
  zip/ParallelDeflateTest
  zip/TargetNamesTest
  zip/WorkerThreadsStressTest
  zip/WildcardMatchTest
  zip/ZipRecordsTest
  jobs/SealedContainerTest
  app/BatchModeTest
  app/LastChanceTest
  app/ConsoleBinaryTest
)

# The Windows-specific suites (WinGuiTest is a Qt test, below).
set(KVELV_WINDOWS_TESTS
  WinConsoleTest
  WinCryptoTest
  WinNamesTest
  WinPlatformTest
  WinSettingsTest
  WinTempArchiveTest)
set(KVELV_WINDOWS_TEST_TARGETS)
foreach(name IN LISTS KVELV_WINDOWS_TESTS)
  list(APPEND KVELV_WINDOWS_TEST_TARGETS "windows_${name}|${CMAKE_CURRENT_LIST_DIR}/${name}.cpp")
endforeach()
# Labels as in the Linux build (see tests/CMakeLists.txt), wine on every test.
set(KVELV_WINDOWS_SYSTEM_TESTS windows_WinConsoleTest windows_WinNamesTest windows_WinTempArchiveTest
  app_ConsoleBinaryTest)
set(KVELV_WINDOWS_THREADED_TESTS zip_ParallelDeflateTest zip_WorkerThreadsStressTest)
foreach(item IN LISTS KVELV_PORTABLE_TESTS)
  string(REPLACE "/" "_" target ${item})
  list(APPEND KVELV_WINDOWS_TEST_TARGETS "${target}|${CMAKE_CURRENT_SOURCE_DIR}/${item}.cpp")
endforeach()

foreach(item IN LISTS KVELV_WINDOWS_TEST_TARGETS)
  string(REPLACE "|" ";" parts "${item}")
  list(GET parts 0 target)
  list(GET parts 1 src)
  add_executable(${target} ${src})
  target_link_libraries(${target} PRIVATE kvelv_test_main ZLIB::ZLIB kvelv_warnings)
  set(labels wine)
  if(target IN_LIST KVELV_WINDOWS_SYSTEM_TESTS)
    list(APPEND labels system)
  else()
    list(APPEND labels unit)
  endif()
  if(target IN_LIST KVELV_WINDOWS_THREADED_TESTS)
    list(APPEND labels threaded)
  endif()
  # Listed when the tests run, not at build time: the build needs no Wine.
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)
  kvelv_label_gtests(${target} ${labels})
endforeach()

kvelv_write_gtest_labels()

# Qt tests of the windows, on the offscreen platform with Wine's fonts (Tahoma, MS Sans Serif):
# the portable ones of tests/ui and the Windows one. Wine keeps the host's QT_* variables from
# Windows programs and passes WINEQT_* as QT_*; without a console, Qt Test would write to the
# debugger instead of standard output. Wine's Recycle Bin is the desktop's trash folder, kept
# inside the build folder here.
if(KVELV_BUILD_GUI)
  set(KVELV_PORTABLE_UI_TESTS
    ${CMAKE_CURRENT_SOURCE_DIR}/ui/AskPasswordTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ui/PrompterTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ui/InteractiveStartupTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WinGuiTest.cpp)
  set(trash ${CMAKE_BINARY_DIR}/xdg-data)
  # Without the trash folder Wine deletes outright, as Windows does without a Recycle Bin.
  file(MAKE_DIRECTORY ${trash}/Trash/files ${trash}/Trash/info)
  foreach(src IN LISTS KVELV_PORTABLE_UI_TESTS)
    get_filename_component(name ${src} NAME_WE)
    set(target windows_ui_${name})
    add_executable(${target} ${src})
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PRIVATE kvelv_ui Qt6::Test kvelv_warnings)
    set_target_properties(${target} PROPERTIES AUTOMOC ON)
    kvelv_link_qt_plugins(${target})
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES TIMEOUT 300 LABELS "wine;gui;unit" ENVIRONMENT
      "WINEQT_QPA_PLATFORM=offscreen;WINEQT_QPA_FONTDIR=Z:/usr/share/wine/fonts;WINEQT_FORCE_STDERR_LOGGING=1;XDG_DATA_HOME=${trash};KVELV_TRASH_FILES=Z:${trash}/Trash/files")
  endforeach()
endif()

# Holds a temporary archive until killed (WinTempArchiveTest).
add_executable(windows_HoldTempArchive ${CMAKE_CURRENT_LIST_DIR}/support/HoldTempArchive.cpp)
target_link_libraries(windows_HoldTempArchive PRIVATE kvelv_jobs kvelv_warnings)
add_dependencies(windows_WinTempArchiveTest windows_HoldTempArchive)
target_compile_definitions(windows_WinTempArchiveTest PRIVATE
  KVELV_HOLD_TEMP_ARCHIVE="$<TARGET_FILE:windows_HoldTempArchive>")

# Holds a file open without sharing until killed (WinNamesTest).
add_executable(windows_HoldFile ${CMAKE_CURRENT_LIST_DIR}/support/HoldFile.cpp)
target_link_libraries(windows_HoldFile PRIVATE shell32 kvelv_warnings)
add_dependencies(windows_WinNamesTest windows_HoldFile)
target_compile_definitions(windows_WinNamesTest PRIVATE KVELV_HOLD_FILE="$<TARGET_FILE:windows_HoldFile>")

# Containers exchanged with the Linux build and with `openssl enc`, run on the host.
set(KVELV_HOST_BINARY "" CACHE FILEPATH "The Linux build's kvelv, for the exchange test")
add_test(NAME windows_exchange
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/exchange.sh
    "$<TARGET_FILE:kvelv>" "${KVELV_HOST_BINARY}" ${CMAKE_CROSSCOMPILING_EMULATOR})
set_tests_properties(windows_exchange PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77
  LABELS "wine;system;peers")

# Ctrl-C, a closed terminal and a kill while a container is written, run on the host.
add_test(NAME windows_console_interrupt
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/console-interrupt.sh "$<TARGET_FILE:kvelv>" ${CMAKE_CROSSCOMPILING_EMULATOR})
set_tests_properties(windows_console_interrupt PROPERTIES TIMEOUT 400 LABELS "wine;system")

# Non-ASCII text on a real console (a pseudo-terminal under Wine), run on the host.
add_test(NAME windows_console_tty
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/console-tty.sh "$<TARGET_FILE:kvelv>" ${CMAKE_CROSSCOMPILING_EMULATOR})
set_tests_properties(windows_console_tty PROPERTIES TIMEOUT 180 SKIP_RETURN_CODE 77
  LABELS "wine;system")
