# What `cmake --install` puts where, and the Debian package built from it (cpack -G DEB).
#
#   <prefix>/sbin/vexland                  the server
#   <prefix>/bin/vexlanctl                 the administrator's tool
#   <prefix>/lib/vexlan/                   the reference worker under every worker program name
#   /etc/vexlan/vexlan.conf                the service's configuration (a conffile)
#   <prefix>/lib/systemd/system/vexlan.service
#   <prefix>/share/man/man5, man8          vexlan.conf(5), vexland(8), vexlanctl(8)
#   <prefix>/include/vexlan, <libdir>      the worker SDK: headers, libvexlan-worker.a,
#                                          pkg-config file, CMake package VexlanWorker
#
# The worker directory is compiled into vexland, so configure with the final prefix
# (-DCMAKE_INSTALL_PREFIX=/usr for the package); VX_WORKER_DIR overrides it at run time for a
# staged or relocated tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VX_INSTALL_WORKERDIR "lib/vexlan" CACHE STRING
    "Directory of the worker programs, relative to the installation prefix")
set(VX_WORKER_LIBDIR "${CMAKE_INSTALL_PREFIX}/${VX_INSTALL_WORKERDIR}")
target_compile_definitions(vx_supervisor PRIVATE VX_WORKER_LIBDIR="${VX_WORKER_LIBDIR}")

# --- The server ----------------------------------------------------------------------------
install(TARGETS vexland RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT server)
install(TARGETS vexlanctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
install(TARGETS vexlan-worker RUNTIME DESTINATION ${VX_INSTALL_WORKERDIR} COMPONENT server)
# The program makes its own names (relative links beside it), so the list of names lives only
# in the worker table.
install(CODE "
  set(dir \"\$ENV{DESTDIR}${VX_WORKER_LIBDIR}\")
  execute_process(COMMAND \"\${dir}/vexlan-worker\" --make-links \"\${dir}\" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR \"Cannot link the worker program names in \${dir}\")
  endif()" COMPONENT server)

install(FILES ${PROJECT_SOURCE_DIR}/packaging/vexlan.conf
        DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/vexlan COMPONENT server)

# The unit runs the installed server; vexland.service is accepted as another name once
# enabled.
file(READ ${PROJECT_SOURCE_DIR}/packaging/vexland.service VX_UNIT)
string(REPLACE "/usr/sbin/vexland" "${CMAKE_INSTALL_FULL_SBINDIR}/vexland" VX_UNIT "${VX_UNIT}")
string(REPLACE "/etc/vexlan/" "${CMAKE_INSTALL_FULL_SYSCONFDIR}/vexlan/" VX_UNIT "${VX_UNIT}")
file(WRITE ${PROJECT_BINARY_DIR}/packaging/vexlan.service "${VX_UNIT}")
install(FILES ${PROJECT_BINARY_DIR}/packaging/vexlan.service
        DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/system COMPONENT server)

install(FILES ${PROJECT_SOURCE_DIR}/packaging/man/vexlan.conf.5
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man5 COMPONENT server)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/man/vexland.8
              ${PROJECT_SOURCE_DIR}/packaging/man/vexlanctl.8
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT server)

# --- The worker SDK ------------------------------------------------------------------------
# One archive holds the SDK and every layer below it, so that a third party links one
# library; its headers keep the "layer/file.h" and "sdk/file.h" paths the sources use.
set(VX_SDK_LIBS vx_worker vx_queues vx_tsdb vx_tql vx_wire vx_sibling vx_io vx_meter vx_util
                vx_error)
set(VX_SDK_ARCHIVE ${PROJECT_BINARY_DIR}/lib/libvexlan-worker.a)
set(VX_SDK_MRI "create ${VX_SDK_ARCHIVE}\n")
foreach(lib ${VX_SDK_LIBS})
  string(APPEND VX_SDK_MRI "addlib $<TARGET_FILE:${lib}>\n")
endforeach()
string(APPEND VX_SDK_MRI "save\nend\n")
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/packaging/vexlan-worker.mri CONTENT "${VX_SDK_MRI}")
add_custom_command(OUTPUT ${VX_SDK_ARCHIVE}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${VX_SDK_ARCHIVE}
  COMMAND ${CMAKE_AR} -M < ${PROJECT_BINARY_DIR}/packaging/vexlan-worker.mri
  DEPENDS ${VX_SDK_LIBS} ${PROJECT_BINARY_DIR}/packaging/vexlan-worker.mri
  COMMENT "Combining the worker SDK into libvexlan-worker.a")
add_custom_target(vexlan-worker-sdk ALL DEPENDS ${VX_SDK_ARCHIVE})

install(FILES ${VX_SDK_ARCHIVE} DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT sdk)
foreach(layer error util io meter wire queues tql tsdb)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/${layer}
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vexlan COMPONENT sdk
          FILES_MATCHING PATTERN "*.h" PATTERN "*.def")
endforeach()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/worker/sdk DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vexlan
        COMPONENT sdk FILES_MATCHING PATTERN "*.h")

configure_file(${PROJECT_SOURCE_DIR}/packaging/sdk/vexlan-worker.pc.in
               ${PROJECT_BINARY_DIR}/packaging/vexlan-worker.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/vexlan-worker.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT sdk)

set(VX_CMAKE_CONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VexlanWorker)
file(RELATIVE_PATH VX_CONFIG_TO_PREFIX "/root/${VX_CMAKE_CONFIG_DIR}" "/root")
configure_file(${PROJECT_SOURCE_DIR}/packaging/sdk/VexlanWorkerConfig.cmake.in
               ${PROJECT_BINARY_DIR}/packaging/VexlanWorkerConfig.cmake @ONLY)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/VexlanWorkerConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/packaging/VexlanWorkerConfig.cmake
              ${PROJECT_BINARY_DIR}/packaging/VexlanWorkerConfigVersion.cmake
        DESTINATION ${VX_CMAKE_CONFIG_DIR} COMPONENT sdk)

# --- The Debian package --------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexlan)
set(CPACK_PACKAGE_VENDOR "vexlan")
set(CPACK_PACKAGE_CONTACT "vexlan maintainers <vexlan@localhost.localdomain>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "network-monitoring server")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server sdk)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The build keeps its debug information; the packaged programs do without it.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_SERVER_PACKAGE_NAME vexlan)
# postinst creates the user vexlan, postrm removes it on purge. vexland loads libsystemd when
# it runs as a service (not linked, so shlibdeps cannot see it).
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser, libsystemd0")
set(CPACK_DEBIAN_SERVER_DESCRIPTION
    "vexland supervises the monitoring workers; vexlanctl checks its configuration, edits its registry and shows what runs.")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/conffiles
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_DEBIAN_SDK_PACKAGE_NAME vexlan-dev)
set(CPACK_COMPONENT_SDK_DESCRIPTION "worker SDK of the vexlan network-monitoring server")
set(CPACK_DEBIAN_SDK_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_SDK_PACKAGE_DEPENDS "libspdlog-dev, libfmt-dev")
set(CPACK_DEBIAN_SDK_DESCRIPTION
    "Headers, static library, pkg-config file and CMake package for worker programs.")
include(CPack)
