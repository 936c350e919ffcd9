# What `cmake --install` puts where (GNU install folders under the prefix), in
# the component "suite" that the package holds, and the one link that the
# package leaves to update-alternatives instead.
include(${CMAKE_CURRENT_LIST_DIR}/InstallLayout.cmake)

# Stripped by default, like the package: RelWithDebInfo programs are about 40
# times the size. SCOPE_INSTALL_STRIP=OFF keeps the symbols. Set before the
# first rule that installs a program, so that each of them sees it.
option(SCOPE_INSTALL_STRIP "Strip the programs and the driver library when installing" ON)
if(SCOPE_INSTALL_STRIP)
  install(CODE "set(CMAKE_INSTALL_DO_STRIP TRUE)" COMPONENT suite)
endif()

install(TARGETS quorvex haldrin scopectl virtual-scope RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT suite)
install(TARGETS ftd2xx LIBRARY DESTINATION ${SCOPE_BUNDLED_DRIVER_DIR} COMPONENT suite NAMELINK_SKIP)

# The programs load <driver folder>/libftd2xx.so. A plain install links it to our
# library; the package does not ship this link (cmake/Packaging.cmake installs
# the suite component only): its maintainer scripts have update-alternatives
# manage it.
install(CODE "
  set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${SCOPE_DRIVER_DIR}/libftd2xx.so\")
  message(STATUS \"Installing: \${link} -> bundled/libftd2xx.so\")
  file(CREATE_LINK bundled/libftd2xx.so \"\${link}\" SYMBOLIC)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${link}\")"
  COMPONENT driver-link)

install(FILES resources/udev/60-automotive-scope.rules resources/udev/61-automotive-scope-uaccess.rules
        DESTINATION ${SCOPE_UDEV_RULES_DIR} COMPONENT suite)

foreach(program Quorvex Haldrin)
  string(TOLOWER ${program} name)
  set(id org.automotivescope.${program})
  install(FILES resources/desktop/${id}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT suite)
  install(FILES resources/metainfo/${id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
          COMPONENT suite)
  foreach(size 16 32 48 64 128 256)
    install(FILES resources/${name}/icon-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ${id}.png
            COMPONENT suite)
  endforeach()
  install(FILES resources/${name}/icon.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME ${id}.svg COMPONENT suite)
endforeach()

# Man pages, compressed by resources/CMakeLists.txt.
foreach(page quorvex haldrin scopectl virtual-scope)
  install(FILES ${SCOPE_MAN_PAGE_DIR}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT suite)
endforeach()

install(FILES resources/completion/scopectl DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        COMPONENT suite)
