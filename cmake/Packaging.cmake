# Installation and the Debian package. `cmake --install` puts the client and
# the files a desktop expects (entry, icons, file type, metainfo, manual page,
# licence, changelog) in their GNU places below the prefix; CPack makes the
# Debian package from the same rules (scripts/package.sh).
include(GNUInstallDirs)

set(VELOMARK_PACKAGE_NAME velomark-client)
set(VELOMARK_PACKAGE_RELEASE 140)
set(VELOMARK_PACKAGE_VERSION ${PROJECT_VERSION}-${VELOMARK_PACKAGE_RELEASE})
set(VELOMARK_RELEASE_DATE 2026-12-10)
# The type of the message files (.tsf), as the MIME type table names it.
set(VELOMARK_FILE_TYPE application/vnd.tessel)
set(VELOMARK_ICON_SIZES 16 22 24 32 48 64 128 256)
set(VELOMARK_PACKAGE_MAINTAINER "velomark packaging <packages@velomark.example>"
    CACHE STRING "Maintainer of the Debian package")
set(VELOMARK_HOMEPAGE "https://velomark.example/" CACHE STRING "Homepage named by the package and the metainfo")

# Folders made by the installation are world-readable whatever the umask of
# the build, as a package's folders must be.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

find_program(VELOMARK_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(VELOMARK_GZIP gzip REQUIRED)

set(packaging ${CMAKE_SOURCE_DIR}/packaging)
set(desktop ${CMAKE_BINARY_DIR}/desktop)
set(id ${VELOMARK_APP_ID})

configure_file(${packaging}/client.desktop.in ${desktop}/${id}.desktop @ONLY)
configure_file(${packaging}/client.metainfo.xml.in ${desktop}/${id}.metainfo.xml @ONLY)
configure_file(${packaging}/file-type.xml.in ${desktop}/${id}.xml @ONLY)

# The licence in the machine-readable copyright format: every line indented
# by one blank, empty lines as " .".
file(READ ${CMAKE_SOURCE_DIR}/LICENSE VELOMARK_LICENSE_TEXT)
string(STRIP "${VELOMARK_LICENSE_TEXT}" VELOMARK_LICENSE_TEXT)
string(REGEX REPLACE "\n\n" "\n.\n" VELOMARK_LICENSE_TEXT "${VELOMARK_LICENSE_TEXT}")
string(REPLACE "\n" "\n " VELOMARK_LICENSE_TEXT " ${VELOMARK_LICENSE_TEXT}")
configure_file(${packaging}/copyright.in ${desktop}/copyright @ONLY)

set(VELOMARK_FULL_DATADIR /usr/${CMAKE_INSTALL_DATADIR})
foreach(VELOMARK_SCRIPT postinst postrm)
  if(VELOMARK_SCRIPT STREQUAL postinst)
    set(VELOMARK_REFRESH_ON "configure|abort-upgrade|abort-remove|abort-deconfigure")
  else()
    set(VELOMARK_REFRESH_ON "remove|purge|abort-install|disappear")
  endif()
  configure_file(${packaging}/maintainer-script.in ${desktop}/${VELOMARK_SCRIPT} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
endforeach()

# Generated files: the icon in the sizes menus use, the compressed manual
# page and changelog (gzip -n: no name or time inside, so builds repeat).
set(generated)
foreach(size ${VELOMARK_ICON_SIZES})
  set(png ${desktop}/icons/${size}x${size}/${id}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${desktop}/icons/${size}x${size}
    COMMAND ${VELOMARK_RSVG_CONVERT} -w ${size} -h ${size} -f png -o ${png} ${packaging}/icon.svg
    DEPENDS ${packaging}/icon.svg VERBATIM)
  list(APPEND generated ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          COMPONENT desktop)
endforeach()
foreach(pair "velomark_client.1;velomark_client.1.gz" "changelog;changelog.Debian.gz")
  list(GET pair 0 source)
  list(GET pair 1 compressed)
  string(REGEX REPLACE "\\.gz$" "" plain ${compressed})
  add_custom_command(OUTPUT ${desktop}/${compressed}
    COMMAND ${CMAKE_COMMAND} -E copy ${packaging}/${source} ${desktop}/${plain}
    COMMAND ${VELOMARK_GZIP} -9nf ${desktop}/${plain}
    DEPENDS ${packaging}/${source} VERBATIM)
  list(APPEND generated ${desktop}/${compressed})
endforeach()
add_custom_target(desktop_files ALL DEPENDS ${generated})

# Two components, both in the one package: "client" (the program and its
# documents) and "desktop" (what a desktop reads to show and start it).
install(TARGETS velomark_client RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)
install(FILES ${desktop}/velomark_client.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT client)
install(FILES ${desktop}/copyright ${desktop}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${VELOMARK_PACKAGE_NAME} COMPONENT client)
install(FILES ${desktop}/${id}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT desktop)
install(FILES ${desktop}/${id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT desktop)
install(FILES ${desktop}/${id}.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages COMPONENT desktop)
install(FILES ${packaging}/icon.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${id}.svg COMPONENT desktop)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${VELOMARK_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR tessel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VELOMARK_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop client of the velomark e-mail service")
set(CPACK_PACKAGE_DESCRIPTION
"The velomark client shows the hosted velomark e-mail application in a
window of its own and adds what a web page cannot do alone: it sends mail
over your own SMTP server (with a password or an OAuth sign-in at
Microsoft or Google), keeps a local address book, attaches and opens
files, and follows your proxy settings.

Double-clicking a tessel message file (.tsf) opens it in the client. One
client runs per desktop session.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VELOMARK_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VELOMARK_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VELOMARK_HOMEPAGE})
# Dependencies from the shared libraries the program links (dpkg-shlibdeps),
# plus xdg-open, through which it opens links and files.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS xdg-utils)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${desktop}/postinst ${desktop}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
