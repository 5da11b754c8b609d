# Release packages through CPack, one per build, from `--target package`:
#   windows: vexhold-<version>-win64.zip   (both programs, the guide, the licence)
#   linux:   vexhold-serve_<version>_amd64.deb (the server, its unit, man page,
#            /etc/vexhold with an empty setting.ini, the user made in postinst)
# Every version in them is the project version.
set(CPACK_PACKAGE_NAME vexhold)
set(CPACK_PACKAGE_VENDOR "Vexhold")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TCP 端口映射 / TCP port mapper")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE.txt)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(_guide "${PROJECT_SOURCE_DIR}/docs/使用说明.md")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME vexhold-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(_programs vexhold-serve)
  if(TARGET vexhold)
    list(PREPEND _programs vexhold)
  endif()
  install(TARGETS ${_programs} RUNTIME DESTINATION .)
  install(FILES ${_guide} ${PROJECT_SOURCE_DIR}/LICENSE.txt DESTINATION .)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/images DESTINATION . FILES_MATCHING PATTERN "*.png")
else()
  set(_pkg ${PROJECT_SOURCE_DIR}/packaging/linux)
  set(_gen ${PROJECT_BINARY_DIR}/packaging)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_NAME vexhold-serve)
  set(CPACK_DEBIAN_FILE_NAME vexhold-serve_${PROJECT_VERSION}_amd64.deb)
  set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vexhold developers <vexhold@localhost>")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "vexhold-serve runs the port mapping pairs of /etc/vexhold/setting.ini (the\nfile the Vexhold window writes) as a systemd service, relaying each\nconnection to its remote IPv4 endpoint unchanged.")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd")
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${_pkg}/postinst ${_pkg}/prerm ${_pkg}/postrm ${_pkg}/conffiles)

  # The man page carries the version; Debian wants it compressed.
  configure_file(${_pkg}/vexhold-serve.1 ${_gen}/vexhold-serve.1 @ONLY)
  add_custom_command(OUTPUT ${_gen}/vexhold-serve.1.gz
    COMMAND gzip -9nc ${_gen}/vexhold-serve.1 > ${_gen}/vexhold-serve.1.gz
    DEPENDS ${_gen}/vexhold-serve.1)
  add_custom_target(vexhold_man_page ALL DEPENDS ${_gen}/vexhold-serve.1.gz)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE.txt ${_gen}/copyright COPYONLY)

  install(TARGETS vexhold-serve RUNTIME DESTINATION bin)
  install(FILES ${_pkg}/vexhold-serve.service DESTINATION /lib/systemd/system)
  install(FILES ${_pkg}/setting.ini DESTINATION /etc/vexhold)
  install(FILES ${_gen}/vexhold-serve.1.gz DESTINATION share/man/man1)
  install(FILES ${_gen}/copyright ${_guide} DESTINATION share/doc/vexhold-serve)
endif()

include(CPack)
