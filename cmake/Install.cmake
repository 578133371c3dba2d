# SPDX-License-Identifier: MIT
# What `cmake --install` puts in place, and the CMake package and pkg-config
# file that let other projects use the installed library.
#
#   <prefix>/<libdir>/libqelrpc.so.0.1.0, libqelrpc.so.0 (SONAME), libqelrpc.so
#   <prefix>/<private>/libqeldes.so, libqelnis.so        (the siblings; <private>
#                                   is QELRPC_INSTALL_PRIVATE_LIBDIR, default <libdir>)
#   <prefix>/bin/qelrpc.dll, qeldes.dll                  (Windows; the whole
#                                                          Windows tree: cmake/WindowsKit.cmake)
#   <prefix>/include/qelrpc.h
#   <prefix>/<libdir>/cmake/qelrpc/                      (find_package(qelrpc))
#   <prefix>/<libdir>/pkgconfig/qelrpc.pc
#   <prefix>/bin/qelrpc, <prefix>/sbin/qelrpc-refd       (Linux)
#
# Both the CMake package and the .pc file find the prefix from where they
# lie, so an installed tree can be moved (and `--prefix` at install time
# works). One path is fixed at build time: the library loads the
# directory-service library from QELRPC_INSTALL_FULL_PRIVATE_LIBDIR
# (QELRPC_QELNIS_LIBDIR, siblings/qelnis/CMakeLists.txt).
#
# The Debian packages (libqelrpc0, libqelrpc-dev, qelrpc-tools) are built
# from debian/ with debhelper (`./run package`), which configures with
# -DCMAKE_INSTALL_PREFIX=/usr and the siblings in <libdir>/qelrpc.

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
  # libqelrpc.so finds libqeldes.so in the siblings' folder, relative to
  # itself, wherever the tree lies (the linker follows the same run path
  # when a program links the library).
  file(RELATIVE_PATH _qelrpc_lib_to_private
    ${CMAKE_INSTALL_FULL_LIBDIR} ${QELRPC_INSTALL_FULL_PRIVATE_LIBDIR})
  if(_qelrpc_lib_to_private STREQUAL "")
    set_target_properties(qelrpc PROPERTIES INSTALL_RPATH "$ORIGIN")
  else()
    set_target_properties(qelrpc PROPERTIES INSTALL_RPATH "$ORIGIN/${_qelrpc_lib_to_private}")
  endif()
  # The installed programs find libqelrpc in <prefix>/<libdir>: through a
  # run path, unless that is a folder the loader searches anyway (/usr/lib/
  # <triplet> of a distribution's package, which must carry no run path).
  if(NOT CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
    file(RELATIVE_PATH _qelrpc_bin_to_lib
      ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
    file(RELATIVE_PATH _qelrpc_sbin_to_lib
      ${CMAKE_INSTALL_FULL_SBINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
    if(TARGET qelrpc-cli)
      set_target_properties(qelrpc-cli PROPERTIES INSTALL_RPATH "$ORIGIN/${_qelrpc_bin_to_lib}")
    endif()
    if(TARGET qelrpc-refd)
      set_target_properties(qelrpc-refd PROPERTIES INSTALL_RPATH "$ORIGIN/${_qelrpc_sbin_to_lib}")
    endif()
  endif()
  if(TARGET qelrpc-refd)
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
  # libqeldes is named only when it lies in <libdir>, where -L finds it; in
  # a private folder it is libqelrpc's own business (its run path).
  if(QELRPC_INSTALL_FULL_PRIVATE_LIBDIR STREQUAL CMAKE_INSTALL_FULL_LIBDIR)
    set(QELRPC_PC_PRIVATE_LIBS "-lqeldes -pthread")
  else()
    set(QELRPC_PC_PRIVATE_LIBS "-pthread")
  endif()
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
