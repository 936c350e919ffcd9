# Where an installed suite keeps its parts, relative to the prefix. Used by the
# install rules, the programs' run paths and the package's maintainer scripts.
# Included by each directory that needs it: the values are directory variables.
include(GNUInstallDirs)

# Our driver library has a folder of its own, so that it never takes the place
# of the bridge maker's library (<prefix>/lib/libftd2xx.so). The programs load
# <folder>/libftd2xx.so; our file is <folder>/bundled/libftd2xx.so. An installed
# tree links the first to the second; the package lets update-alternatives do it,
# so that an administrator can point it at the maker's library instead.
set(SCOPE_DRIVER_DIR "${CMAKE_INSTALL_LIBDIR}/automotive-scope")
set(SCOPE_BUNDLED_DRIVER_DIR "${SCOPE_DRIVER_DIR}/bundled")
set(SCOPE_DRIVER_ALTERNATIVE "automotive-scope-driver")

# The run path from the programs' folder to the driver folder.
file(RELATIVE_PATH _scope_bin_to_driver "${CMAKE_INSTALL_FULL_BINDIR}"
     "${CMAKE_INSTALL_FULL_LIBDIR}/automotive-scope")
set(SCOPE_DRIVER_RPATH "$ORIGIN/${_scope_bin_to_driver}")

# udev reads <prefix>/lib/udev/rules.d for /usr and /usr/local, whatever the libdir.
set(SCOPE_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING "Folder of the udev rules, relative to the prefix")
