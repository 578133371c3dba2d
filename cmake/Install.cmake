# SPDX-License-Identifier: MIT
# What `cmake --install` puts in place, the CMake package and pkg-config file
# that let other projects use the installed library, and the Debian package
# (CPack, Linux only).
#
#   <prefix>/<libdir>/libqelrpc.so.0.1.0, libqelrpc.so.0 (SONAME), libqelrpc.so
#   <prefix>/<libdir>/libqeldes.so, libqelnis.so        (the siblings)
#   <prefix>/bin/qelrpc.dll, qeldes.dll                  (Windows; the whole
#                                                          Windows tree: cmake/WindowsKit.cmake)
#   <prefix>/include/qelrpc.h
#   <prefix>/<libdir>/cmake/qelrpc/                      (find_package(qelrpc))
#   <prefix>/<libdir>/pkgconfig/qelrpc.pc
#   <prefix>/sbin/qelrpc-refd                            (Linux)
#
# Both the CMake package and the .pc file find the prefix from where they
# lie, so an installed tree can be moved (and `--prefix` at install time
# works). One path is fixed at build time: the library loads the
# directory-service library from CMAKE_INSTALL_FULL_LIBDIR
# (QELRPC_QELNIS_LIBDIR, siblings/qelnis/CMakeLists.txt). The Debian package
# therefore installs under CMAKE_INSTALL_PREFIX too, so the path the library
# was built with is where the package puts libqelnis.so; configure with
# -DCMAKE_INSTALL_PREFIX=/usr for a package that installs into /usr.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QELRPC_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/qelrpc)
set(QELRPC_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Inside the build the header comes from the source tree; installed, from
# <prefix>/include. The import of the DES library is the library's own
# business, so qeldes's headers stay out of the installed interface.
set_property(TARGET qelrpc PROPERTY INTERFACE_INCLUDE_DIRECTORIES
  "$<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>")
set_property(TARGET qeldes PROPERTY INTERFACE_INCLUDE_DIRECTORIES
  "$<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/siblings/qeldes>")

if(NOT WIN32)
  # libqelrpc.so finds libqeldes.so beside itself wherever the tree lies (the
  # linker follows the same run path when a program links the library), and
  # the installed programs find both in <prefix>/<libdir>.
  set_target_properties(qelrpc PROPERTIES INSTALL_RPATH "$ORIGIN")
  file(RELATIVE_PATH _qelrpc_bin_to_lib
    ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  file(RELATIVE_PATH _qelrpc_sbin_to_lib
    ${CMAKE_INSTALL_FULL_SBINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  if(TARGET qelrpc-cli)
    set_target_properties(qelrpc-cli PROPERTIES INSTALL_RPATH "$ORIGIN/${_qelrpc_bin_to_lib}")
  endif()
  if(TARGET qelrpc-refd)
    set_target_properties(qelrpc-refd PROPERTIES INSTALL_RPATH "$ORIGIN/${_qelrpc_sbin_to_lib}")
    install(TARGETS qelrpc-refd RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
  endif()
endif()

# The library; qeldes joins the export set because the library links it
# (siblings/qeldes/CMakeLists.txt installs it), so a consumer's link finds it.
install(TARGETS qelrpc EXPORT qelrpcTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/qelrpc.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT qelrpcTargets NAMESPACE qelrpc:: FILE qelrpcTargets.cmake
  DESTINATION ${QELRPC_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/qelrpcConfig.cmake.in
  ${CMAKE_BINARY_DIR}/qelrpcConfig.cmake
  INSTALL_DESTINATION ${QELRPC_INSTALL_CMAKEDIR}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/qelrpcConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/qelrpcConfig.cmake ${CMAKE_BINARY_DIR}/qelrpcConfigVersion.cmake
  DESTINATION ${QELRPC_INSTALL_CMAKEDIR})

# pkg-config: the prefix is worked out from the .pc file's own folder.
file(RELATIVE_PATH QELRPC_PC_TO_PREFIX
  ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" QELRPC_PC_TO_PREFIX "${QELRPC_PC_TO_PREFIX}")
if(WIN32)
  set(QELRPC_PC_PRIVATE_LIBS "-lws2_32 -lwsock32 -ladvapi32")
else()
  set(QELRPC_PC_PRIVATE_LIBS "-lqeldes -pthread")
  foreach(_l IN LISTS CMAKE_DL_LIBS)
    string(APPEND QELRPC_PC_PRIVATE_LIBS " -l${_l}")
  endforeach()
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/qelrpc.pc.in ${CMAKE_BINARY_DIR}/qelrpc.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/qelrpc.pc DESTINATION ${QELRPC_INSTALL_PKGCONFIGDIR})

if(WIN32)
  # The import library for Microsoft's linker, the .def, the notes and the
  # stripped binaries with their debug data beside them.
  include(${CMAKE_CURRENT_LIST_DIR}/WindowsKit.cmake)
endif()

# ---------------------------------------------------------------------------
# Debian package: cpack -G DEB (--config <build>/CPackConfig.cmake).
# ---------------------------------------------------------------------------
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME qelrpc)
  set(CPACK_PACKAGE_VENDOR "qelrpc developers")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "ONC RPC (RPC version 2 and XDR) library with a plain C interface")
  set(CPACK_PACKAGE_DESCRIPTION
    "qelrpc builds ONC RPC calls and checks their replies over UDP and TCP, finds ports through the portmapper, broadcasts calls, answers calls as a small server, encodes and decodes XDR and authenticates with AUTH_NULL, AUTH_UNIX, AUTH_DES and RPCSEC_GSS. The package holds the shared library, its header, CMake package and pkg-config file, the DES/DH and directory-service sibling libraries, the command-line tool and the reference PCNFSD/Qelnfsd daemon.")
  # Where the library looks for libqelnis.so is fixed at build time under
  # CMAKE_INSTALL_PREFIX, so the package installs there as well (CPack's
  # own default for DEB, /usr, would leave the library looking elsewhere).
  set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "qelrpc developers")
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libgssapi-krb5-2")
  find_program(QELRPC_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(QELRPC_DPKG_SHLIBDEPS)
    # dpkg-shlibdeps (dpkg-dev) reads what the binaries import; libqeldes.so
    # is the package's own, found in its libdir.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    string(REGEX REPLACE "^/" "" _qelrpc_pkg_libdir "${CMAKE_INSTALL_FULL_LIBDIR}")
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${_qelrpc_pkg_libdir})
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libgcrypt20")
  endif()
  include(CPack)
endif()
