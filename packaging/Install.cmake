# Installation and the Debian package of the station.
#
#   cmake --install <build> --prefix /usr     the station, the element simulator, the desktop entry
#                                             and the icons, in the usual Linux places
#   cpack -G DEB   (in the build folder)      vexolink-nms_<version>_<arch>.deb
#
# scripts/package builds the package from a Release build in build-package/.

include(GNUInstallDirs)

# The desktop entry, the icon and QGuiApplication::desktopFileName share this id, so the desktop
# shell matches the running window with its menu entry and icon.
set(VEXO_APP_ID "com.korvanta.VexolinkNMS")
set(VEXO_PACKAGING_DIR "${CMAKE_CURRENT_LIST_DIR}")

install(TARGETS vexolink-nms vexolink-cli vexolink-element RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Prometheus scrape configuration and alert rules for the exporter of vexolink-cli.
install(FILES "${VEXO_PACKAGING_DIR}/prometheus/prometheus.yml" "${VEXO_PACKAGING_DIR}/prometheus/vexolink-rules.yml"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vexolink-nms/prometheus)

install(FILES "${VEXO_PACKAGING_DIR}/${VEXO_APP_ID}.desktop"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES "${VEXO_PACKAGING_DIR}/icons/${VEXO_APP_ID}.svg"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
    install(FILES "${VEXO_PACKAGING_DIR}/icons/${size}x${size}.png"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${VEXO_APP_ID}.png)
endforeach()
install(FILES "${CMAKE_SOURCE_DIR}/README.md" DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vexolink-nms)

# The manual pages (written from the programs' --help at build time) and the bash completion.
install(FILES "${VEXO_MAN_DIR}/vexolink-nms.1.gz" "${VEXO_MAN_DIR}/vexolink-cli.1.gz"
              "${VEXO_MAN_DIR}/vexolink-element.1.gz"
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES "${VEXO_PACKAGING_DIR}/bash-completion/vexolink-cli"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
# The exporter as a service, disabled until the administrator enables it; its settings are a
# configuration file of the package, kept over upgrades.
install(FILES "${VEXO_PACKAGING_DIR}/systemd/vexolink-exporter.service" DESTINATION /lib/systemd/system)
install(FILES "${VEXO_PACKAGING_DIR}/systemd/vexolink-exporter.default" DESTINATION /etc/default
        RENAME vexolink-exporter)
# The copyright file and the changelog every Debian package carries (compressed as Debian does,
# without a time stamp).
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
    COMMAND gzip -9nc "${VEXO_PACKAGING_DIR}/debian/changelog" > ${CMAKE_BINARY_DIR}/changelog.gz
    DEPENDS "${VEXO_PACKAGING_DIR}/debian/changelog")
add_custom_target(vexo_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES "${VEXO_PACKAGING_DIR}/debian/copyright" "${CMAKE_BINARY_DIR}/changelog.gz"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vexolink-nms)

# cpack installs the project before packing it; the package needs only the three programs, and
# building every test and benchmark first would make packing an already built tree slow.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_NAME "vexolink-nms")
set(CPACK_PACKAGE_VENDOR "Korvanta Broadcast")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Network management station for Vexolink IP audio studio-to-transmitter links")
# Lines of fewer than 80 characters, as dpkg shows them.
set(CPACK_PACKAGE_DESCRIPTION
    "Vexolink NMS finds the Vexolink encoders and decoders on the local network,\n\
keeps what they report in a local store, and sends them their configuration;\n\
it pings and identifies elements, shows an encoder's live audio level, reads\n\
traffic and PTP counters and adjusts the latency of decoders in a\n\
single-frequency network. The package also holds vexolink-element, a simulator\n\
of one Network Element or a whole fleet, and vexolink-cli, the station's\n\
commands for scripts with a Prometheus exporter (also as the service\n\
vexolink-exporter).")
set(CPACK_PACKAGE_CONTACT "Korvanta Broadcast support <support@korvanta.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
# The programs are shipped without their debugging symbols, whatever the build type.
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR "DEB")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_COMPRESSION_TYPE "xz")
# The shared libraries the programs link come from dpkg-shlibdeps; Qt loads its window-system
# plugins at run time, so no library link names them and they are listed here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The journal opens its database through a Qt plugin, which dpkg-shlibdeps cannot see.
# libqt6charts6 is found by dpkg-shlibdeps as well; named here so that the SFN overview's chart
# is never left out of a package built without it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6sql6-sqlite, libqt6charts6")
# Ping falls back to the system's ping program where ICMP sockets are not allowed; the DejaVu
# fonts are those the fixed layout was checked with at every scale factor.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "iputils-ping, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.korvanta.example/vexolink")

# Files below /etc are the administrator's once installed: dpkg keeps their changes.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${VEXO_PACKAGING_DIR}/debian/conffiles")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
