# The Debian package (cpack -G DEB in the build tree) and the source archive
# (cpack --config CPackSourceConfig.cmake). The package holds the install
# component "suite" under /usr; its maintainer scripts register our driver
# library with update-alternatives and reload the udev rules.
include(${CMAKE_CURRENT_LIST_DIR}/InstallLayout.cmake)

set(CPACK_PACKAGE_NAME automotive-scope)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Automotive Scope developers")
set(CPACK_PACKAGE_CONTACT "The Automotive Scope developers <support@automotivescope.org>"
    CACHE STRING "Maintainer of the Debian package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop software of the Automotive Scope USB oscilloscope")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Quorvex shows the scope's screen live or on demand, saves it as a bitmap"
  "and prints it. Haldrin writes a firmware image into the scope through its"
  "boot loader. scopectl does both from the command line, for scripts and"
  "production lines. virtual-scope stands in for the hardware, for"
  "demonstrations and training."
  ""
  "Both programs use our driver library for the scope's FTDI USB serial"
  "bridge, kept in a folder of its own (/usr/lib/automotive-scope), where"
  "update-alternatives can point them at the bridge maker's library instead."
  "The udev rules give the logged-in user access to the bridge, keep"
  "ModemManager away from it and set its latency timer to 1 ms.")

set(CPACK_GENERATOR DEB)
# Values reach CPackConfig.cmake as written (the ignore patterns keep their backslashes).
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};suite;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries from the programs' needs (dpkg-shlibdeps, which finds our own
# library in the package's folder), and the Korean-capable font of the dialogs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "usr/${SCOPE_BUNDLED_DRIVER_DIR}")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk")

# The package installs under /usr, the DEB generator's prefix.
set(SCOPE_PKG_DRIVER_DIR "/usr/${SCOPE_DRIVER_DIR}")
set(SCOPE_PKG_DRIVER_LINK "${SCOPE_PKG_DRIVER_DIR}/libftd2xx.so")
set(SCOPE_PKG_BUNDLED_DRIVER "/usr/${SCOPE_BUNDLED_DRIVER_DIR}/libftd2xx.so")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA)
foreach(script postinst prerm postrm)
  configure_file(${PROJECT_SOURCE_DIR}/resources/debian/${script}.in ${PROJECT_BINARY_DIR}/debian/${script}
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                 WORLD_READ WORLD_EXECUTE)
  list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/${script})
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The source archive: the checkout without its version control and build trees.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}")
string(REGEX REPLACE "([][+.*?()^$|\\\\])" "\\\\\\1" source_root "${PROJECT_SOURCE_DIR}")
string(REGEX REPLACE "([][+.*?()^$|\\\\])" "\\\\\\1" binary_root "${PROJECT_BINARY_DIR}")
set(CPACK_SOURCE_IGNORE_FILES
  "^${source_root}/\\.git(/|$)"
  "^${source_root}/build[^/]*/"
  "^${binary_root}/"
  "^${source_root}/\\.cache/"
  "/compile_commands\\.json$"
  "/_CPack_Packages/"
  "/CMakeUserPresets\\.json$"
  "~$"
  "\\.swp$")

include(CPack)
