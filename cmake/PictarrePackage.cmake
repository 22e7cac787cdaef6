# The Debian package: `cpack -G DEB` in a build folder, or its `package` target, makes
# pictarre_<version>_amd64.deb from what `cmake --install` lays out, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pictarre)
set(CPACK_PACKAGE_VENDOR Pictarre)
set(CPACK_PACKAGE_CONTACT "Pictarre developers <pictarre-dev@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "picture browser with a Simplified Chinese interface")
set(CPACK_PACKAGE_DESCRIPTION [[
Pick one picture and Pictarre shows every BMP, JPG and GIF picture of its
folder on one page; pick a folder and it searches the folder and all its
subfolders and shows every picture it finds, one per row, with the
picture's path as a link under it.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

# Libraries come from the binaries (dpkg-shlibdeps; Qt WebEngine's own entry there brings the
# engine's helper process, libqt6webenginecore6-bin, and its data with the locale files); the
# rest is what the binaries cannot show: Qt's translations, the desktop tools the menus start,
# and a font that has the Chinese texts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n, xdg-utils, wmctrl, fonts-noto-cjk")

set(PICTARRE_INSTALLED_PROGRAM_DIR ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pictarre)
configure_file(${PROJECT_SOURCE_DIR}/resources/debian/prerm.in ${PROJECT_BINARY_DIR}/debian/prerm @ONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
