# SPDX-License-Identifier: MIT
# The Windows side of `cmake --install` (included from cmake/Install.cmake
# in Windows builds): the tree that ./run package zips as the Windows kit.
#
#   bin/qelrpc.dll, qeldes.dll, qelrpc.exe    stripped; each with <file>.debug
#   lib/qelrpc.lib                            import library for Microsoft's
#                                             linker (and lld-link, clang-cl)
#   lib/qelrpc.def                            the export list as a .def file
#   lib/libqelrpc.dll.a, libqeldes.dll.a      import libraries for mingw-w64
#   system-directory/qelnis.dll (+ .debug)    see README.txt there
#   include/qelrpc.h, LICENSE, README.txt
#
# qelrpc.lib is made from the same .def as the DLL's exports (the export
# list, cmake/Exports.cmake), so it names exactly what the DLL exports. The
# functions are __cdecl: on 32-bit x86 a caller compiled by Microsoft's
# compiler refers to _name (and __imp__name through dllimport), while the DLL
# exports the plain name (--kill-at). llvm-dlltool writes short import
# members of name type "noprefix" for these, which tell the linker to drop
# the leading underscore when it writes the caller's import table; on x86-64
# nothing is decorated. tests/msvc/ links a program built with clang-cl
# against the library and reads back what it imports.

include(GNUInstallDirs)

find_program(QELRPC_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14
  DOC "llvm-dlltool, which makes the import library for Microsoft's linker (qelrpc.lib)")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_qelrpc_dlltool_machine i386:x86-64)
  set(_qelrpc_msvc_machine x64)
else()
  set(_qelrpc_dlltool_machine i386)
  set(_qelrpc_msvc_machine x86)
endif()

set(QELRPC_MSVC_IMPORT_LIBRARY ${CMAKE_BINARY_DIR}/qelrpc.lib)
if(QELRPC_LLVM_DLLTOOL)
  add_custom_command(OUTPUT ${QELRPC_MSVC_IMPORT_LIBRARY}
    COMMAND ${QELRPC_LLVM_DLLTOOL} -m ${_qelrpc_dlltool_machine} -d ${QELRPC_DEF}
            -l ${QELRPC_MSVC_IMPORT_LIBRARY}
    DEPENDS ${QELRPC_DEF} ${QELRPC_EXPORT_LIST}
    COMMENT "Import library for Microsoft's linker: qelrpc.lib"
    VERBATIM)
  add_custom_target(qelrpc_msvc_import_library ALL DEPENDS ${QELRPC_MSVC_IMPORT_LIBRARY})
  install(FILES ${QELRPC_MSVC_IMPORT_LIBRARY} DESTINATION ${CMAKE_INSTALL_LIBDIR})
else()
  message(WARNING "llvm-dlltool (Debian package llvm) was not found: no qelrpc.lib for Microsoft's "
                  "linker; lib/qelrpc.def is installed, from which `lib /def:qelrpc.def "
                  "/machine:${_qelrpc_msvc_machine}` makes it")
endif()
install(FILES ${QELRPC_DEF} DESTINATION ${CMAKE_INSTALL_LIBDIR})

# The notes and the licence, with Windows line ends.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QELRPC_KIT_ARCH "64-bit, x64")
  set(QELRPC_KIT_SYSTEM_DIRECTORY
"  %SystemRoot%\\System32   (normally C:\\Windows\\System32)

This qelnis.dll is a 64-bit DLL, for 64-bit Windows.")
else()
  set(QELRPC_KIT_ARCH "32-bit, x86")
  set(QELRPC_KIT_SYSTEM_DIRECTORY
"  64-bit Windows:  %SystemRoot%\\SysWOW64   (normally C:\\Windows\\SysWOW64)
  32-bit Windows:  %SystemRoot%\\System32   (normally C:\\Windows\\System32)

This qelnis.dll is a 32-bit DLL. On 64-bit Windows a 32-bit program's
system directory is SysWOW64: Windows redirects the System32 it asks for
there, so a 32-bit qelnis.dll in System32 is not found (and does not
belong among the 64-bit DLLs).")
endif()
set(QELRPC_KIT_MSVC_MACHINE ${_qelrpc_msvc_machine})
configure_file(${CMAKE_SOURCE_DIR}/cmake/windows-kit/README.txt.in
  ${CMAKE_BINARY_DIR}/windows-kit/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${CMAKE_SOURCE_DIR}/cmake/windows-kit/system-directory.txt.in
  ${CMAKE_BINARY_DIR}/windows-kit/system-directory/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/windows-kit/LICENSE.txt
  @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/windows-kit/README.txt ${CMAKE_BINARY_DIR}/windows-kit/LICENSE.txt
  DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/windows-kit/system-directory/README.txt
  DESTINATION ${QELNIS_INSTALL_DIR})

# Stripped binaries with their debug data beside them: after the targets
# above and in the siblings' and tools' folders are installed (install rules
# run in the order they were declared), each installed file's debug sections
# and symbols go to <file>.debug and the file keeps only a .gnu_debuglink
# naming it, which gdb follows. The build tree keeps its unstripped files
# for the tests.
set(_qelrpc_split
  "${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:qelrpc>"
  "${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:qeldes>"
  "${QELNIS_INSTALL_DIR}/$<TARGET_FILE_NAME:qelnis>")
if(TARGET qelrpc-cli)
  list(APPEND _qelrpc_split "${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:qelrpc-cli>")
endif()
if(CMAKE_OBJCOPY AND CMAKE_OBJDUMP)
  install(CODE "set(QELRPC_SPLIT_OBJCOPY \"${CMAKE_OBJCOPY}\")\nset(QELRPC_SPLIT_OBJDUMP \"${CMAKE_OBJDUMP}\")\nset(QELRPC_SPLIT_FILES \"${_qelrpc_split}\")")
  install(SCRIPT ${CMAKE_SOURCE_DIR}/cmake/SplitDebug.cmake)
else()
  message(WARNING "no objcopy for the target: the installed DLLs keep their debug data")
endif()

# The import library against the export list, and a program built the way
# a Microsoft toolchain builds one (clang-cl, lld-link) linked with it.
if(QELRPC_TESTS AND BUILD_TESTING AND QELRPC_LLVM_DLLTOOL)
  find_program(QELRPC_CLANG_CL NAMES clang-cl clang-cl-14)
  find_program(QELRPC_LLD_LINK NAMES lld-link lld-link-14)
  find_program(QELRPC_LLVM_READOBJ NAMES llvm-readobj llvm-readobj-14)
  if(QELRPC_CLANG_CL AND QELRPC_LLD_LINK AND QELRPC_LLVM_READOBJ)
    add_test(NAME msvc_import_library
      COMMAND ${CMAKE_COMMAND} -E env
              CLANG_CL=${QELRPC_CLANG_CL} LLD_LINK=${QELRPC_LLD_LINK} LLVM_READOBJ=${QELRPC_LLVM_READOBJ}
              sh ${CMAKE_SOURCE_DIR}/tests/msvc/check_msvc_import_library.sh
              ${QELRPC_MSVC_IMPORT_LIBRARY} ${CMAKE_SOURCE_DIR}/include ${QELRPC_EXPORT_LIST}
              ${CMAKE_CURRENT_BINARY_DIR}/msvc-consumer $<TARGET_FILE_DIR:qelrpc>)
    set_tests_properties(msvc_import_library PROPERTIES TIMEOUT 120)
  else()
    message(WARNING "clang-cl, lld-link or llvm-readobj (Debian packages clang, lld, llvm) missing: "
                    "the test msvc_import_library is left out")
  endif()
endif()
