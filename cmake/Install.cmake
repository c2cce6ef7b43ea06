# Where an installed Tessaly puts its files (FHS and XDG places), and the Debian package.
include(GNUInstallDirs)

install(TARGETS tessaly-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET tessaly)
  install(TARGETS tessaly RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES doc/man/tessaly-cli.1 doc/man/tessaly.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES completions/tessaly-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tessaly-cli)
install(FILES packaging/tessaly.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/tessaly-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME tessaly.xml)
foreach(size 32 48 256)
  install(FILES resources/icon-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME tessaly.png)
endforeach()
configure_file(packaging/tessaly.metainfo.xml ${PROJECT_BINARY_DIR}/org.example.tessaly.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/org.example.tessaly.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessaly)
set(CPACK_PACKAGE_VENDOR "The Tessaly developers")
set(CPACK_PACKAGE_CONTACT "The Tessaly developers <tessaly@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "back up and restore the mail data of a Wine prefix")
set(CPACK_PACKAGE_DESCRIPTION
    "Tessaly backs up and restores the mail store, mail accounts, address book, browser\nfavorites and browser settings that a Windows user keeps in a Wine prefix.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tessaly.example/")
# The dependencies are the Debian packages of the libraries actually linked.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wine")
include(CPack)
