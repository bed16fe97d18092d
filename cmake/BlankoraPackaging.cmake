# Install rules and the Debian package (CPack). packaging/build-deb.sh builds
# the package with Debian's build flags; `cpack` in any build folder works too.

set(BLANKORA_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/blankora)
set(BLANKORA_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)
set(BLANKORA_GENERATED ${CMAKE_BINARY_DIR}/packaging)

install(TARGETS blankora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS blankora_library LIBRARY DESTINATION ${BLANKORA_PRIVATE_LIBDIR} NAMELINK_SKIP)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/bres DESTINATION ${BLANKORA_DATADIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/icons/hicolor
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${BLANKORA_PACKAGING}/${BLANKORA_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${BLANKORA_PACKAGING}/${BLANKORA_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${BLANKORA_PACKAGING}/screenshots/wizard.png
    DESTINATION ${BLANKORA_DATADIR}/screenshots)
install(FILES ${BLANKORA_PACKAGING}/copyright DESTINATION ${BLANKORA_DOCDIR})

# Debian wants the manual and the change log compressed, without time stamps.
configure_file(${BLANKORA_PACKAGING}/blankora.1.in ${BLANKORA_GENERATED}/blankora.1 @ONLY)
configure_file(${BLANKORA_PACKAGING}/changelog.in ${BLANKORA_GENERATED}/changelog @ONLY)
foreach(document blankora.1 changelog)
    add_custom_command(OUTPUT ${BLANKORA_GENERATED}/${document}.gz
        COMMAND gzip -9 -n -f -k ${BLANKORA_GENERATED}/${document}
        DEPENDS ${BLANKORA_GENERATED}/${document}
        VERBATIM)
endforeach()
add_custom_target(blankora_documents ALL
    DEPENDS ${BLANKORA_GENERATED}/blankora.1.gz ${BLANKORA_GENERATED}/changelog.gz)
install(FILES ${BLANKORA_GENERATED}/blankora.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${BLANKORA_GENERATED}/changelog.gz DESTINATION ${BLANKORA_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME blankora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Blankora developers")
set(CPACK_PACKAGE_CONTACT "Blankora maintainers <maintainers@users.noreply.c-seed-acebf9dc.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "wizard that erases rewritable CDs, DVDs and BDs")
set(CPACK_PACKAGE_DESCRIPTION [[
Blankora leads through the erase (blanking) of one rewritable optical disc:
CD-RW, DVD-RW, DVD+RW, DVD-RAM or BD-RE. It asks for the drive, a fast or
full erase and the speed, shows a summary, then erases with a progress bar
and a log that can be saved, and ejects the disc. When an erase ends while
its window is in the background, a desktop notification says how it ended.]])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION otherosfs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
# Qt's window-system plugins are loaded at run time, so shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Qt's wayland platform, so that the program runs as a native Wayland client.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, qt6-wayland")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)

# The package is the same whatever the sanitizer: checked in the plain build only.
if(BLANKORA_TESTS AND NOT BLANKORA_SANITIZE)
    add_test(NAME package COMMAND ${CMAKE_SOURCE_DIR}/tests/packaging/test-package.sh
        ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
    set_tests_properties(package PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
endif()
