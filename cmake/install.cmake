# Install rules and packaging.
#
# Linux: the executable goes to bin/, the desktop entry to share/applications/, the application icon
# to the hicolor theme (the scalable SVG and PNGs rendered from it at build time), and the autostart
# entry to share/quillnest-bar/autostart/, from where a user who wants the utility at login copies it
# to ~/.config/autostart/ (the utility itself writes no files). `make package` turns this into a
# Debian package through CPack, its dependencies computed by dpkg-shlibdeps.
#
# The stand-in tool of cli/ has no install rule on purpose: installed, it would sit where the utility
# looks for the tool first and shadow the user's real `quillnest`.
#
# Apple: the executable becomes an application bundle, an accessory application without a Dock icon
# whose resource directory is the bundle's Contents/Resources. Only Linux is built and tested here.

set(QN_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

if(APPLE)
    set_target_properties(quillnest-bar PROPERTIES
        MACOSX_BUNDLE TRUE
        MACOSX_BUNDLE_INFO_PLIST ${QN_PACKAGING_DIR}/macos/Info.plist.in
        MACOSX_BUNDLE_GUI_IDENTIFIER org.quillnest.bar
        MACOSX_BUNDLE_BUNDLE_NAME "Quillnest bar"
        MACOSX_BUNDLE_BUNDLE_VERSION ${PROJECT_VERSION}
        MACOSX_BUNDLE_SHORT_VERSION_STRING ${PROJECT_VERSION})

    install(TARGETS quillnest-bar BUNDLE DESTINATION .)
    return()
endif()

include(GNUInstallDirs)

install(TARGETS quillnest-bar RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${QN_PACKAGING_DIR}/quillnest-bar.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QN_PACKAGING_DIR}/autostart/quillnest-bar.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/quillnest-bar/autostart)

# The desktop entries are checked by the freedesktop.org validator as part of the tests.
find_program(QN_DESKTOP_FILE_VALIDATE desktop-file-validate)
if(QN_DESKTOP_FILE_VALIDATE)
    add_test(NAME desktop_entries
             COMMAND ${QN_DESKTOP_FILE_VALIDATE} ${QN_PACKAGING_DIR}/quillnest-bar.desktop
                     ${QN_PACKAGING_DIR}/autostart/quillnest-bar.desktop)
else()
    message(WARNING "desktop-file-validate (Debian package desktop-file-utils) was not found: the "
                    "desktop entries go unchecked; `scripts/install-deps.sh test` installs it")
endif()

# The icon: the SVG as drawn, and PNGs of the usual theme sizes rendered from it into the build
# tree's share/icons, laid out as installed.
set(QN_ICON_SVG ${QN_PACKAGING_DIR}/quillnest-bar.svg)
set(QN_ICON_SIZES 16 22 24 32 48 64 128 256)
install(FILES ${QN_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

find_program(QN_RSVG_CONVERT rsvg-convert)
if(QN_RSVG_CONVERT)
    set(icon_pngs)
    foreach(size IN LISTS QN_ICON_SIZES)
        set(dir ${CMAKE_BINARY_DIR}/share/icons/hicolor/${size}x${size}/apps)
        add_custom_command(
            OUTPUT ${dir}/quillnest-bar.png
            COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
            COMMAND ${QN_RSVG_CONVERT} --width ${size} --height ${size}
                    --output ${dir}/quillnest-bar.png ${QN_ICON_SVG}
            DEPENDS ${QN_ICON_SVG}
            COMMENT "Rendering the ${size}x${size} icon"
            VERBATIM)
        list(APPEND icon_pngs ${dir}/quillnest-bar.png)
        install(FILES ${dir}/quillnest-bar.png
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
    add_custom_target(qn_icons ALL DEPENDS ${icon_pngs})
else()
    message(WARNING "rsvg-convert (Debian package librsvg2-bin) was not found: the PNG icons are "
                    "neither built nor installed; `scripts/install-deps.sh package` installs it")
endif()

# The Debian package.
set(QN_PACKAGE_MAINTAINER "Quillnest maintainers <maintainers@quillnest.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillnest-bar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QN_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "status-area companion of the quillnest rules tool")
# One paragraph per element, lines wrapped as Debian's control files have them.
set(CPACK_PACKAGE_DESCRIPTION [=[
Quillnest bar puts a document symbol with a coloured status dot in the
desktop panel's tray: gray before anything was synced or checked, red when
secrets were found in the rules, yellow for warnings or conflicts, green
when all rules are in sync and clean. Its menu summarises the state file of
the quillnest command-line tool and runs the tool: sync, check, watch for
changes, add a project folder, open a project's master file or its
conflicts folder. In English and Russian.

The quillnest tool itself is not part of this package.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/deb)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's Wayland plugin lets the utility run as a native Wayland client; without it Qt falls back to
# XWayland, where everything works the same. Qt's translations put Qt's own texts (the folder
# chooser's) in the user's language; without them they stay English.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, qt6-translations-l10n")
# The tray on GNOME Shell needs this extension; other desktops show the icon as they are.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS gnome-shell-extension-appindicator)

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/" "/demo/")

include(CPack)
