# What `cmake --install` puts on a Linux system, and the Debian package that
# `cpack -G DEB` makes of it: the console program, the combining tool and the
# console program's manual page.
include(GNUInstallDirs)
install(TARGETS flash-upgrade combine-firmware RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${FLASH_UPGRADE_MANUAL} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME flash-upgrade)
set(CPACK_PACKAGE_VERSION 1.58)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "replace the firmware of an ATAPI DVD-ROM drive")
set(CPACK_PACKAGE_DESCRIPTION
    "flash-upgrade writes the firmware image combined into it to a DVD-ROM drive
through the kernel's SCSI generic interface (SG_IO), chunk by chunk with
read-back verification, lists the drives and saves a drive's firmware to a
file, puts a saved firmware back after checking it against its record, and
compares a drive's flash with an image. combine-firmware puts a firmware
image into a copy of the program.")
set(CPACK_PACKAGE_CONTACT "Flash Upgrade Program maintainers <flash-upgrade@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# dpkg-shlibdeps declares the libraries the program links: libsystemd0 (the
# logind inhibitor, sd-bus) and libssl3 (libcrypto, the SHA-256 of the
# backups' records) beside the C and C++ runtimes.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
