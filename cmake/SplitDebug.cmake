# SPDX-License-Identifier: MIT
# Install step of the Windows tree (cmake/WindowsKit.cmake): splits the
# debug data off each installed binary.
#   QELRPC_SPLIT_OBJCOPY  the target's objcopy
#   QELRPC_SPLIT_OBJDUMP  the target's objdump
#   QELRPC_SPLIT_FILES    the binaries, relative to the install prefix
# <file>.debug gets the DWARF sections and the symbol table; <file> is
# stripped and carries a .gnu_debuglink with the debug file's name and CRC,
# so a debugger that finds the .debug file beside the binary uses it.
foreach(_rel IN LISTS QELRPC_SPLIT_FILES)
  set(_file "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${_rel}")
  if(NOT EXISTS "${_file}")
    message(FATAL_ERROR "${_file} was not installed")
  endif()
  get_filename_component(_dir "${_file}" DIRECTORY)
  get_filename_component(_name "${_file}" NAME)
  # Nothing to split off a binary without debug sections or symbols: one already
  # split (a second install that found it up to date keeps the .debug file
  # made the first time) or one stripped by `cmake --install --strip`.
  execute_process(COMMAND "${QELRPC_SPLIT_OBJDUMP}" -f -h "${_file}" OUTPUT_VARIABLE _sections
    RESULT_VARIABLE _rc ERROR_QUIET)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "${QELRPC_SPLIT_OBJDUMP} cannot read ${_file}")
  endif()
  if(NOT _sections MATCHES "\\.debug_|HAS_SYMS")
    if(EXISTS "${_file}.debug" AND _sections MATCHES "\\.gnu_debuglink")
      message(STATUS "Up-to-date: ${_file}.debug")
      list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${_file}.debug")
    else()
      message(STATUS "No debug data to split off: ${_file}")
    endif()
    continue()
  endif()
  message(STATUS "Splitting: ${_file} -> ${_name}.debug")
  execute_process(COMMAND "${QELRPC_SPLIT_OBJCOPY}" --only-keep-debug "${_name}" "${_name}.debug"
    WORKING_DIRECTORY "${_dir}" RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "${QELRPC_SPLIT_OBJCOPY} --only-keep-debug ${_file} failed (${_rc})")
  endif()
  # Run in the binary's folder: the link records the name as given.
  execute_process(COMMAND "${QELRPC_SPLIT_OBJCOPY}" --strip-all "--add-gnu-debuglink=${_name}.debug" "${_name}"
    WORKING_DIRECTORY "${_dir}" RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "${QELRPC_SPLIT_OBJCOPY} --strip-all --add-gnu-debuglink ${_file} failed (${_rc})")
  endif()
  # Data, not a program: objcopy gave it the binary's mode.
  file(CHMOD "${_file}.debug" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${_file}.debug")
endforeach()
