# The Windows build's test helpers, included from tests/CMakeLists.txt before the test programs:
# the twins of the shared helpers (no fork, no flock), the programs the Windows suites hold files
# with, and the environment of the Qt tests under Wine. The programs themselves are the calls
# marked WINDOWS or WINDOWS_ONLY in tests/CMakeLists.txt and tests/ui/CMakeLists.txt; they run
# under Wine through CMAKE_CROSSCOMPILING_EMULATOR.

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

# Holds a temporary archive until killed (WinTempArchiveTest).
add_executable(windows_HoldTempArchive ${CMAKE_CURRENT_LIST_DIR}/support/HoldTempArchive.cpp)
target_link_libraries(windows_HoldTempArchive PRIVATE kvelv_jobs kvelv_warnings)

# Holds a file open without sharing until killed (WinNamesTest).
add_executable(windows_HoldFile ${CMAKE_CURRENT_LIST_DIR}/support/HoldFile.cpp)
target_link_libraries(windows_HoldFile PRIVATE shell32 kvelv_warnings)

# Qt tests of the windows run on the offscreen platform with Wine's fonts (Tahoma, MS Sans Serif).
# Wine keeps the host's QT_* variables from Windows programs and passes WINEQT_* as QT_*; without
# a console, Qt Test would write to the debugger instead of standard output. Wine's Recycle Bin is
# the desktop's trash folder, kept inside the build folder here; without it Wine deletes outright,
# as Windows does without a Recycle Bin.
set(trash ${CMAKE_BINARY_DIR}/xdg-data)
file(MAKE_DIRECTORY ${trash}/Trash/files ${trash}/Trash/info)
set(KVELV_WINE_QT_ENVIRONMENT
  WINEQT_QPA_PLATFORM=offscreen WINEQT_QPA_FONTDIR=Z:/usr/share/wine/fonts WINEQT_FORCE_STDERR_LOGGING=1
  XDG_DATA_HOME=${trash} KVELV_TRASH_FILES=Z:${trash}/Trash/files)
