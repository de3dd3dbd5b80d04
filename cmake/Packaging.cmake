# The qm9000 Debian package: `cpack -G DEB` in a build tree makes
# qm9000_<version>_<arch>.deb (armhf from the board's cross build).
#   /usr/bin/qmhost
#   /usr/lib/qm9000/      the plug-in and the board libraries, private to qmhost
#                         and so out of the dynamic linker's search path
#   /usr/share/qm9000/examples/   the example application files
#   /usr/share/man/man1/qmhost.1.gz, /usr/share/doc/qm9000/{copyright,changelog.gz}
#   /usr/lib/systemd/system/qm9000.service   the meter as a service
#   /usr/lib/udev/rules.d/60-qm9000.rules    the devices to the groups spi, gpio, i2c
#   /etc/default/qm9000                      the service's options (a conffile)
# The examples are not under /usr/share/doc: they are copied to set up an
# application directory, and a system may leave /usr/share/doc out.
# Nothing goes to the application directory: it is the meter's own. The
# maintainer scripts make the service's user and seed its application
# directory, /var/lib/qm9000, on the first installation.
#
# The unit and the rules go under /usr/lib: lintian accepts /lib and /usr/lib
# alike, its own word is that /usr/lib/systemd/system is Debian's place, every
# bookworm system has a merged /usr (init-system-helpers depends on it), and a
# file that starts under /usr never has to move there later, the move the
# merged /usr makes hazardous for dpkg.

set(QM_PKG_LIBDIR lib/qm9000)

# Installed, qmhost finds the libraries it opens in the private directory, and
# libqmsim and libqmsimline find libqmsimcore beside themselves. The build tree
# keeps CMake's build RPATHs.
set_target_properties(qmsim qmsimline PROPERTIES INSTALL_RPATH "$ORIGIN")

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(TARGETS qmhost RUNTIME DESTINATION bin)
# 0644 (Debian policy) wherever the package is built: the dynamic linker needs
# no execute bit on a shared library.
install(TARGETS QM9000 qmsim qmsimcore qmsimline qmboard LIBRARY DESTINATION ${QM_PKG_LIBDIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(GLOB QM_EXAMPLE_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/config/*.json)
install(FILES ${QM_EXAMPLE_FILES} DESTINATION share/qm9000/examples)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/web/ DESTINATION share/qm9000/web)

# The manual page and the changelog, compressed as Debian wants them: gzip -9,
# without the file's name and time stamp, so that the build time leaves no
# trace in them.
find_program(QM_GZIP gzip REQUIRED)
set(QM_PKG_DOCS)
foreach(doc qmhost.1 changelog)
  set(out ${CMAKE_BINARY_DIR}/packaging/${doc})
  add_custom_command(OUTPUT ${out}.gz
                     COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/${doc} ${out}
                     COMMAND ${QM_GZIP} -9nf ${out}
                     DEPENDS ${PROJECT_SOURCE_DIR}/packaging/${doc} VERBATIM)
  list(APPEND QM_PKG_DOCS ${out}.gz)
endforeach()
add_custom_target(qm_package_docs ALL DEPENDS ${QM_PKG_DOCS})
install(FILES ${CMAKE_BINARY_DIR}/packaging/qmhost.1.gz DESTINATION share/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION share/doc/qm9000)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/qm9000.service DESTINATION lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-qm9000.rules DESTINATION lib/udev/rules.d)
# The one absolute destination: the service's options belong in /etc whatever
# the prefix (the package marks the file a conffile).
install(FILES ${PROJECT_SOURCE_DIR}/packaging/qm9000.default DESTINATION /etc/default RENAME qm9000)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qm9000)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_CONTACT "QM9000 developers <qm9000@example.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "three-phase power meter measurement module and host")
set(CPACK_PACKAGE_DESCRIPTION [[
The QM9000 measurement module is a plug-in that reads the meter's metering
chip and publishes voltages, currents, powers and energies to the meter's
application.

This package holds the module, the real board's library (SPI, GPIO and
I2C), a simulated board, and qmhost, the reference host that runs the module
on either board and calibrates it. Example application files are in
/usr/share/qm9000/examples.

On the board it runs the meter as the service qm9000: the system user
qm9000 (a member of the groups spi, gpio and i2c), the application directory
/var/lib/qm9000, its options in /etc/default/qm9000.]])
# The libraries the binaries link, with their versions, from dpkg-shlibdeps
# (the armhf ones from Debian's armhf packages, see below); by hand what it
# cannot see: libgpiod is opened at run time (the IRQ line's bias flags came
# with libgpiod2 1.5), the page's charts are dygraphs, and the maintainer
# scripts use adduser.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libgpiod2 (>= 1.5), libjs-dygraphs")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/conffiles ${PROJECT_SOURCE_DIR}/packaging/postinst
    ${PROJECT_SOURCE_DIR}/packaging/prerm ${PROJECT_SOURCE_DIR}/packaging/postrm)
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)  # else dpkg's own architecture
  # cpack runs dpkg-shlibdeps for armhf: the cross objdump reads the binaries,
  # and their libraries are looked up in armhf's multiarch directories first,
  # those of Debian's armhf packages (libc6:armhf, libstdc++6:armhf, ..., which
  # the Makefile installs), not the cross toolchain's copies under
  # /usr/arm-linux-gnueabihf, which belong to packages of no architecture.
  set(QM_PKG_HOST_ARCH armhf)
endif()
configure_file(${PROJECT_SOURCE_DIR}/packaging/CPackConfig.cmake.in ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
