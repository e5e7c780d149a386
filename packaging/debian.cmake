# The Debian package of an installation (cpack -G DEB); scripts/package.sh builds and checks it.
set(TOLVANE_DEBIAN_RELEASE 1)
set(TOLVANE_MAINTAINER "The Tolvane developers <tolvane@brenmoor.app>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TOLVANE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Binaries lose their symbols; the directories the package creates are 0755 whatever the umask.
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                                GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The release is part of the name Debian gives the file: tolvane_<version>-<release>_<arch>.deb.
# It must match packaging/changelog.Debian.in's first entry.
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TOLVANE_DEBIAN_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TOLVANE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "window switcher for GNOME, KDE Plasma, sway and X11")
# CPack puts the summary first and indents each line of the rest; an empty line separates
# paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Hold Super and tap Tab: a panel lists every window of every application on
every workspace, most recently used first, and releasing Super raises and
focuses the chosen one. Super plus the key above Tab cycles the windows of the
frontmost application. Alt-Space opens a search palette that filters every
window as you type, and a tray icon lists recent windows.

Tolvane works with any EWMH window manager on Xorg, such as GNOME, KDE Plasma,
Xfce, MATE or Openbox, and on Wayland with KDE Plasma, sway and GNOME. On
GNOME it works through its own GNOME Shell extension, installed for all users
by this package and loaded by GNOME Shell at the next login.")
# The libraries the binary links come from dpkg-shlibdeps. It cannot see programs started at run
# time: the sign-in's browser opens through xdg-open, else sensible-browser (always there, so a
# dependency), and a Secret Service keeps the account's token (without one, Tolvane keeps it in
# a file only the user can read).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS sensible-utils)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS gnome-keyring)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
