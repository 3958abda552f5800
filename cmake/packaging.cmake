# Installing and packaging the program (`cmake --build --preset P --target package`).
#   Windows: wyprawy-VERSION-win64.zip holding wyprawy.exe, CZYTAJ.txt and LICENSE.txt.
#   Linux: GNU install directories; a .deb and a .tar.gz of the same files.
# The packages land in packages/ of the build folder.
include(GNUInstallDirs)

set(WYPRAWY_GENERATED "${CMAKE_BINARY_DIR}/generated")

# The player's guide (UTF-8, LF in the sources), with the version filled in.
set(wyprawy_guide_source "${PROJECT_SOURCE_DIR}/packaging/CZYTAJ.txt")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${wyprawy_guide_source}")
file(READ "${wyprawy_guide_source}" wyprawy_guide)
string(CONFIGURE "${wyprawy_guide}" wyprawy_guide @ONLY)

if(WIN32)
  # Everything in the zip's top level: the player extracts it into a folder
  # of their choice, which becomes the program's working directory.
  install(TARGETS wyprawy RUNTIME DESTINATION .)
  # Notepad shows Polish letters on every Windows only for UTF-8 with a
  # byte-order mark, and lines on older ones only with CR LF.
  string(ASCII 239 187 191 wyprawy_bom)
  string(REPLACE "\n" "\r\n" wyprawy_guide "${wyprawy_guide}")
  file(WRITE "${WYPRAWY_GENERATED}/CZYTAJ.txt" "${wyprawy_bom}${wyprawy_guide}")
  configure_file(LICENSE "${WYPRAWY_GENERATED}/LICENSE.txt" @ONLY NEWLINE_STYLE CRLF)
  install(FILES "${WYPRAWY_GENERATED}/CZYTAJ.txt" "${WYPRAWY_GENERATED}/LICENSE.txt" DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "wyprawy-${PROJECT_VERSION}-win64")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  install(TARGETS wyprawy RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  # The desktop entry starts the program through this launcher, in ~/Wyprawy.
  install(PROGRAMS packaging/linux/wyprawy-start DESTINATION "${CMAKE_INSTALL_BINDIR}")
  install(FILES packaging/linux/wyprawy.desktop DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
  file(WRITE "${WYPRAWY_GENERATED}/CZYTAJ.txt" "${wyprawy_guide}")
  install(FILES "${WYPRAWY_GENERATED}/CZYTAJ.txt" DESTINATION "${CMAKE_INSTALL_DOCDIR}")
  install(FILES LICENSE DESTINATION "${CMAKE_INSTALL_DOCDIR}" RENAME copyright)

  set(CPACK_GENERATOR "DEB;TGZ")
  set(CPACK_PACKAGE_FILE_NAME "wyprawy-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # The dependencies are those of the binary, found by dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION games)
  # The trust store against which https links' certificates are verified.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ca-certificates)
endif()

set(CPACK_PACKAGE_NAME wyprawy)
set(CPACK_PACKAGE_VENDOR "The wyprawy authors")
set(CPACK_PACKAGE_CONTACT "The wyprawy authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${WYPRAWY_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "Sprawdza raport wypraw z przeglądarkowej gry (link wklejony do okna) i dopisuje wyprawy, po jednym wierszu, do pliku konta.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_BINARY_DIR}/packages")
include(CPack)
