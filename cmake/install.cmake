# Install rules and packaging.
#
# Linux: the executable goes to bin/, the desktop entry to share/applications/, the application icon
# to the hicolor theme (the scalable SVG and PNGs rendered from it at build time), the autostart
# entry to share/quillnest-bar/autostart/, from where a user who wants the utility at login copies it
# to ~/.config/autostart/ (the utility itself writes no autostart entry), the manual page (built from
# its scdoc source) to share/man/man1/ and the AppStream metainfo to share/metainfo/. `make package`
# turns this into a Debian package through dpkg-buildpackage and debian/, which holds the package's
# own fields (description, dependencies).
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

# The AppStream metainfo, from which software centres list the utility. Its id follows the
# reverse-DNS rule; its launchable is the desktop entry above.
install(FILES ${QN_PACKAGING_DIR}/org.quillnest.bar.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The manual page quillnest-bar(1), built from its scdoc source into the build tree's share/man.
find_program(QN_SCDOC scdoc)
if(QN_SCDOC)
    set(QN_MAN_SOURCE ${QN_PACKAGING_DIR}/quillnest-bar.1.scd)
    set(QN_MAN_PAGE ${CMAKE_BINARY_DIR}/share/man/man1/quillnest-bar.1)
    add_custom_command(
        OUTPUT ${QN_MAN_PAGE}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share/man/man1
        COMMAND sh -c "\"$0\" < \"$1\" > \"$2\"" ${QN_SCDOC} ${QN_MAN_SOURCE} ${QN_MAN_PAGE}
        DEPENDS ${QN_MAN_SOURCE}
        COMMENT "Building the manual page quillnest-bar(1)"
        VERBATIM)
    add_custom_target(qn_man ALL DEPENDS ${QN_MAN_PAGE})
    install(FILES ${QN_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
    message(WARNING "scdoc (Debian package scdoc) was not found: the manual page is neither built "
                    "nor installed; `scripts/install-deps.sh build` installs it")
endif()
