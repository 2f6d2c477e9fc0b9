# The Debian package of the helper, built by `cpack -G DEB` (scripts/package.sh).
set(TAMBORIX_PACKAGE_MAINTAINER "Tamborix Helper maintainers <helper@tamborix.io>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tamborix-helper)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TAMBORIX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Without the daemon phones cannot discover the helper; they can still connect by address. The
# icons of applications that ship only an SVG are drawn through gdk-pixbuf's SVG loader.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "avahi-daemon, librsvg2-common")
# Bluetooth LE goes through bluetoothd; without it the helper serves the network only.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bluez")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"remote control of this computer from a paired phone or watch
Tamborix Helper turns a paired phone or watch into a remote control for the
computer it runs on: pointer, clicks, drags, scrolling, keys and shortcuts,
typed text, media and presentation keys, window placement, switching and
opening applications, web addresses, the clipboard in both directions, a laser
pointer, a cursor finder and a live view of one display.

Phones reach the helper over the local network, where Avahi announces it, or
over Bluetooth LE. A phone pairs once with a short code and the user's
approval; every later connection is end-to-end encrypted. A device can be
limited to presenting.

The package holds tamborix-helper, its desktop entry and a systemd user unit
for machines without a display, and tamborix-remote, a command-line client
that pairs and sends commands as a phone does.")

include(CPack)
