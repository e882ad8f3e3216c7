# Installed layout: the whole program lives in <prefix>/lib/veltrane, because it
# looks for its plugin, hand cursor and skin in the folder of its executable;
# <prefix>/bin/veltrane is a relative link so the tree can be relocated.

set(VELTRANE_APPDIR lib/veltrane)
set(VELTRANE_LICENSE "LicenseRef-proprietary" CACHE STRING
    "SPDX expression of the program's licence, as the package and AppStream data state it")
# AppStream wants a reverse-DNS id of a domain the project controls; the
# placeholder matches the placeholder support address.
set(VELTRANE_APP_ID "com.example.veltrane" CACHE STRING "AppStream component id")

install(TARGETS veltrane RUNTIME DESTINATION ${VELTRANE_APPDIR})
if(TARGET veltrane_office)
  install(TARGETS veltrane_office LIBRARY DESTINATION ${VELTRANE_APPDIR})
endif()

# Side files are installed from the sources, OPTIONAL so a tree without them
# still installs; the install test insists they are there.
install(FILES ${PROJECT_SOURCE_DIR}/resources/HAND-M.CUR DESTINATION ${VELTRANE_APPDIR} OPTIONAL)
install(FILES ${PROJECT_SOURCE_DIR}/resources/skin/o.cjs DESTINATION ${VELTRANE_APPDIR}/x OPTIONAL)

# DESTDIR is honoured so that CPack's staging gets the link too.
install(CODE [[
  set(link "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin/veltrane")
  file(MAKE_DIRECTORY "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin")
  file(REMOVE "${link}")
  message(STATUS "Installing: ${link} -> ../lib/veltrane/veltrane")
  file(CREATE_LINK ../lib/veltrane/veltrane "${link}" SYMBOLIC)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_PREFIX}/bin/veltrane")
]])

# Desktop integration. The desktop file's name matches
# QApplication::setDesktopFileName("veltrane") so Wayland compositors can pair window and entry.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/veltrane.desktop DESTINATION share/applications)
foreach(size 32 48 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/veltrane-${size}.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME veltrane.png OPTIONAL)
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/packaging/veltrane.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/packaging/${VELTRANE_APP_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/${VELTRANE_APP_ID}.metainfo.xml DESTINATION share/metainfo)
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in
               ${PROJECT_BINARY_DIR}/packaging/copyright @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/copyright DESTINATION share/doc/veltrane)

# The Debian package: `cpack -G DEB` in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veltrane)
set(CPACK_PACKAGE_VENDOR "Veltrane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
# The Debian revision: a packaged upstream version, so its changelog is changelog.Debian.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Veltrane maintainers <${VELTRANE_SUPPORT_EMAIL}>")
# Debian has no office section; text is where document tools go.
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "write employee warning notices as Word documents")
# CPack puts the summary first and indents these lines itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Veltrane makes employee warning notices. A manager types nine facts about
the warning (employee, manager, department, what happened, the plan for
improvement, the consequences, job title, date and employee ID) and gets a
finished notice as a Word 97-2003 document. The program fills its built-in
template through LibreOffice Writer running in the background, shows a
zoomable preview of the result and saves the document where the user wants.")
# Library packages come from dpkg-shlibdeps; it finds LibreOffice's own UNO
# libraries only when told where they live. What is loaded or started at run
# time (Writer, the fonts the template is measured with) is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS /usr/lib/libreoffice/program)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libreoffice-writer-nogui | libreoffice-writer, fonts-liberation2")
# Fonts for every script a name or a description may be written in; Liberation
# covers Latin, Cyrillic and Greek. The smallest packages that cover the rest come
# first (an installed alternative satisfies the group): DejaVu Sans (Arabic,
# Hebrew; 3 MB, nearly always present), Lohit Devanagari (0.2 MB) rather than
# Noto's 42 MB core set, WenQuanYi Micro Hei (Chinese, Japanese kana, Korean;
# 5 MB) rather than Noto CJK's 91 MB, and Symbola for emoji (3 MB): LibreOffice
# 7.4 puts colour emoji into the rendered page without outlines, so they would
# show as nothing in the preview.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "fonts-dejavu-core | fonts-noto-core, fonts-lohit-deva | fonts-noto-core, fonts-wqy-microhei | fonts-noto-cjk, fonts-symbola")
# Printing goes to CUPS (libcups itself comes from dpkg-shlibdeps); the server
# may as well be another machine's.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cups")
# CPack adds ldconfig maintainer scripts for any .so under usr/lib, but the
# plugin is private; those scripts would only keep the removed package in
# dpkg's "rc" state. Naming (absent) scripts of our own turns them off; CPack
# then warns "missing file", which is expected.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/packaging/none/postinst ${PROJECT_BINARY_DIR}/packaging/none/postrm)

# What Debian asks of every package: a changelog and a manual page, both
# compressed without a time stamp (gzip -9n) so the package is reproducible,
# and the reason for the plugin's run path, told to lintian.
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in
               ${PROJECT_BINARY_DIR}/packaging/changelog.Debian @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/veltrane.1
               ${PROJECT_BINARY_DIR}/packaging/veltrane.1 @ONLY)
foreach(doc changelog.Debian veltrane.1)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/${doc}.gz
    COMMAND gzip -9n -c ${PROJECT_BINARY_DIR}/packaging/${doc} > ${PROJECT_BINARY_DIR}/packaging/${doc}.gz
    DEPENDS ${PROJECT_BINARY_DIR}/packaging/${doc} VERBATIM)
endforeach()
add_custom_target(veltrane_package_docs ALL DEPENDS
  ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz ${PROJECT_BINARY_DIR}/packaging/veltrane.1.gz)
install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz DESTINATION share/doc/veltrane)
install(FILES ${PROJECT_BINARY_DIR}/packaging/veltrane.1.gz DESTINATION share/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
        DESTINATION share/lintian/overrides RENAME veltrane)
include(CPack)
