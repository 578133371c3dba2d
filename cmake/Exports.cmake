# SPDX-License-Identifier: MIT
# Turns an export list (one name a line, # comments) into a GNU ld version
# script and a .def file.
#   qelrpc_generate_exports(LIST MAP DEF [LIBRARY name] [NODE version-node])
# LIBRARY names the DLL in the .def (default qelrpc); NODE names the version
# node of the script (default QELRPC_0; empty: an anonymous node).
function(qelrpc_generate_exports list_file out_map out_def)
  cmake_parse_arguments(_x "" "LIBRARY;NODE" "" ${ARGN})
  if(NOT DEFINED _x_LIBRARY)
    set(_x_LIBRARY qelrpc)
  endif()
  if(NOT DEFINED _x_NODE AND NOT "NODE" IN_LIST ARGN)
    # A version node of its own keeps the names apart from other libraries
    # that export the same xdr_* names (libtirpc): a program linked to both
    # binds each library's internal calls to that library.
    set(_x_NODE QELRPC_0)
  endif()
  file(STRINGS "${list_file}" _lines)
  set(_names "")
  foreach(_l IN LISTS _lines)
    string(STRIP "${_l}" _l)
    if(_l STREQUAL "" OR _l MATCHES "^#")
      continue()
    endif()
    list(APPEND _names "${_l}")
  endforeach()
  if("${_x_NODE}" STREQUAL "")
    set(_map "{\n  global:\n")
  else()
    set(_map "${_x_NODE} {\n  global:\n")
  endif()
  set(_def "LIBRARY ${_x_LIBRARY}\nEXPORTS\n")
  foreach(_n IN LISTS _names)
    string(APPEND _map "    ${_n};\n")
    string(APPEND _def "    ${_n}\n")
  endforeach()
  string(APPEND _map "  local: *;\n};\n")
  file(WRITE "${out_map}" "${_map}")
  file(WRITE "${out_def}" "${_def}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${list_file}")
endfunction()
