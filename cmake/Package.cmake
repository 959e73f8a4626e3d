# The Debian package (scripts/package): the two programs in /usr/bin, the desktop entry, the
# icon, the AppStream metadata, the manual pages, the copyright and the changelog, built by
# CPack's DEB generator.
include(GNUInstallDirs)

set(pkg ${PROJECT_SOURCE_DIR}/packaging)
set(out ${PROJECT_BINARY_DIR}/packaging)
set(appstream_id org.example.zorod)

# The version is set once, in project(); the release histories must have an entry for it.
file(STRINGS ${pkg}/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^zorod \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog does not begin with version ${PROJECT_VERSION}")
endif()
file(READ ${pkg}/${appstream_id}.metainfo.xml metainfo)
if(NOT metainfo MATCHES "<releases>[ \n]*<release version=\"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "packaging/${appstream_id}.metainfo.xml names no release ${PROJECT_VERSION} first")
endif()

# The menu entry starts the program found on PATH and shows the icon of the theme.
set(ZOROD_EXEC zorod)
set(ZOROD_ICON zorod)
configure_file(${PROJECT_SOURCE_DIR}/src/app/resources/zorod.desktop.in ${out}/zorod.desktop @ONLY)

# Manual pages and the changelog go compressed, as Debian's policy asks (no name or time stamp
# in the gzip header, so the package is the same from build to build).
set(compressed "")
foreach(file zorod.1 zorod-publish.1 changelog)
  add_custom_command(OUTPUT ${out}/${file}.gz
    COMMAND gzip -9n -c ${pkg}/${file} > ${out}/${file}.gz
    DEPENDS ${pkg}/${file}
    VERBATIM)
  list(APPEND compressed ${out}/${file}.gz)
endforeach()
add_custom_target(zorod_package_files ALL DEPENDS ${compressed})

install(FILES ${out}/zorod.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/src/app/resources/zorod.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${pkg}/${appstream_id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${out}/zorod.1.gz ${out}/zorod-publish.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${pkg}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zorod)
install(FILES ${out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zorod)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorod)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_CONTACT "The ZOR OD developers <dev@zorod.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "design, edit and publish small PHP web sites")
# CPack puts the summary first, as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "ZOR OD is a desktop content-management client for small PHP web sites. A site
is a folder on the local disk: the program edits its design template, pages
and blocks, compiles the template into the site's own index.php (which runs on
any host with PHP), writes sitemap.xml and publishes the folder to an FTP
server, sending only the files that changed.
.
The package also holds zorod-publish, which does the same publishing work from
a terminal, for scripts and scheduled jobs.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://zorod.example.org)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The libraries the programs link come from dpkg-shlibdeps (with them the web engine's helper
# process); the rest is what the program loads at run time: the SVG plugin for the icon, and a
# typeface with Arial's measures for the fixed-size windows. The Russian texts of the toolkit's
# dialogs, the certificates for protected connections and the opener of links are recommended.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, ca-certificates, xdg-utils")
include(CPack)
