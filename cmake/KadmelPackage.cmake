# `make package`: a Debian package with the program, its desktop entry, AppStream metadata, icon,
# German manual page, README, copyright and changelog.
include(GNUInstallDirs)
# The desktop id names the desktop entry, the metainfo file, the icon and the autostart entry alike.
set(KADMEL_DESKTOP_ID com.example.Kadmel)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(docdir ${CMAKE_INSTALL_DATADIR}/doc/kadmel)

# Debian wants the manual page and the changelog compressed to the maximum, without a time stamp.
set(kadmel_docs)
foreach(pair "kadmel.1;kadmel.1.gz" "kadmelctl.1;kadmelctl.1.gz" "kadmel-dienst.8;kadmel-dienst.8.gz"
             "changelog;changelog.gz")
    list(GET pair 0 source)
    list(GET pair 1 packed)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/${packed}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
        COMMAND gzip -9nc ${packaging}/${source} > ${PROJECT_BINARY_DIR}/packaging/${packed}
        DEPENDS ${packaging}/${source} VERBATIM)
    list(APPEND kadmel_docs ${PROJECT_BINARY_DIR}/packaging/${packed})
endforeach()
add_custom_target(kadmel_docs ALL DEPENDS ${kadmel_docs})

install(TARGETS kadmel kadmelctl kadmel-dienst RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install also drops the compiler's .comment and .note sections, as Debian's own tools do.
foreach(program kadmel kadmelctl kadmel-dienst)
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\" COMMAND_ERROR_IS_FATAL ANY)
endif()")
endforeach()
install(FILES ${packaging}/${KADMEL_DESKTOP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging}/${KADMEL_DESKTOP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 32 64)
    install(FILES ${PROJECT_SOURCE_DIR}/src/ui/resources/Program${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ${KADMEL_DESKTOP_ID}.png)
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/packaging/kadmel.1.gz ${PROJECT_BINARY_DIR}/packaging/kadmelctl.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_BINARY_DIR}/packaging/kadmel-dienst.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
# The service's units where this system's systemd looks for them (Debian 12: system units below /lib).
find_package(PkgConfig REQUIRED)
pkg_get_variable(KADMEL_SYSTEM_UNIT_DIR systemd systemdsystemunitdir)
pkg_get_variable(KADMEL_USER_UNIT_DIR systemd systemduserunitdir)
if(NOT KADMEL_SYSTEM_UNIT_DIR)
    set(KADMEL_SYSTEM_UNIT_DIR /lib/systemd/system)
endif()
if(NOT KADMEL_USER_UNIT_DIR)
    set(KADMEL_USER_UNIT_DIR /usr/lib/systemd/user)
endif()
install(FILES ${packaging}/kadmel-dienst.service DESTINATION ${KADMEL_USER_UNIT_DIR})
install(FILES ${packaging}/kadmel-dienst@.service DESTINATION ${KADMEL_SYSTEM_UNIT_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${packaging}/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${docdir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kadmel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kadmel <support@example.com>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.example.com/kadmel)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[desktop dispatcher that sends job files as e-mails over SMTP
Kadmel Mail System watches a job folder into which another application
drops mail jobs as small text files. While its service is active it takes
one job every five seconds, turns the text into an HTML mail and delivers
it through its own SMTP client, with STARTTLS or SSL/TLS and a password if
the server asks for them. Every mail is kept with its SMTP conversation in
a sent or a failed folder; failed mails can be corrected and sent again.
The window speaks German.

Kadmel Mail System überwacht einen Auftragsordner, in den eine andere
Anwendung Mail-Aufträge als kleine Textdateien legt. Solange der Dienst
aktiv ist, nimmt es alle fünf Sekunden einen Auftrag, macht aus dem Text
eine HTML-Mail und stellt sie über seinen eigenen SMTP-Client zu, auf
Wunsch mit STARTTLS oder SSL/TLS und Kennwort. Jede Mail wird mit ihrem
SMTP-Gespräch in einem Ordner für gesendete oder fehlgeschlagene Mails
abgelegt; fehlgeschlagene Mails lassen sich berichtigen und erneut senden.]=])
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
# The Qt libraries come from dpkg-shlibdeps; libqt6network6 among them also ships the TLS plugin
# (plugins/tls/libqopensslbackend.so, which loads libssl3) that STARTTLS and SSL/TLS need. Loaded at
# run time and so unseen by shlibdeps: the platform plugins, Qt's German translations for its own
# dialogs, the system certificates that every server certificate is checked against, and libsecret,
# through which QtKeychain reaches the desktop's keyring.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-translations-l10n, ca-certificates, libsecret-1-0")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
