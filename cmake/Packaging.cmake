# Installation rules beyond the executables (which their own folders install) and CPack:
# a Debian package on Linux (console and interactive build, man page, desktop entries, file type,
# icons) and
# a ZIP package on Windows (kvelv.exe, kvelv-gui.exe and a README).
set(CPACK_PACKAGE_NAME "orv-kvelv")
set(CPACK_PACKAGE_VENDOR "Orv Kvelv")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "File encryption client: files packed into one AES-256 container")
set(CPACK_PACKAGE_CONTACT "Orv Kvelv maintainers <kvelv@localhost>")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/README.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "kvelv-${PROJECT_VERSION}-win64")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  include(GNUInstallDirs)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/kvelv.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  if(KVELV_BUILD_GUI)
    # The entry (a container opens with kvelv-gui; its action and "Open With" fill in a file to
    # encrypt), the container's file type, and the icon in every size the windows use.
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/kvelv-gui.desktop
                  ${PROJECT_SOURCE_DIR}/packaging/kvelv-gui-encrypt.desktop
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/orv-kvelv.xml
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mime/packages)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/kvelv.svg
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
    foreach(size 16 22 24 32 48 64 128 256)
      install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/${size}x${size}/kvelv.png
              DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
  endif()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Library dependencies (zlib, libcrypto, Qt) worked out from the executables; the main
  # window's layout is made for the metrics of Liberation Sans (those of Tahoma and Arial).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  if(KVELV_BUILD_GUI)
    # Qt's own translations: the platform's buttons in the user's language.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation, qt6-translations-l10n")
  endif()
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "File encryption client\n kvelv packs files into a ZIP archive and encrypts it with AES-256-CBC\n into one container file; kvelv-gui is the interactive build (Qt 6).")
endif()
include(CPack)
