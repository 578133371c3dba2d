// SPDX-License-Identifier: MIT
/*
 * qelnis: the suite's directory-service library. The RPC library loads it
 * at run time for each user or group question and asks it through these
 * five entry points; nothing links to it.
 *
 * A directory service is reported as configured when the environment
 * variable QELNIS_TYPE holds a nonzero decimal number (that number is the
 * type); unset, empty, 0 or not a number: none is configured. The answers
 * come from the system's account database (on Linux through the name
 * service switch: files, LDAP, SSSD, whatever the machine uses; on Windows
 * the local machine's accounts, ids being the accounts' relative ids).
 */
#ifndef QELNIS_H
#define QELNIS_H

#ifdef _WIN32
#  ifdef QELNIS_BUILDING
#    define QELNIS_API __declspec(dllexport)
#  else
#    define QELNIS_API __declspec(dllimport)
#  endif
#else
#  define QELNIS_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* 1 and *type = QELNIS_TYPE's value (0 when none is configured); 0 when
 * type is null. */
QELNIS_API int dirservice_gettype(int* type);
/* *gid = the group's id, or left as it was when the group is unknown.
 * 0 found, 1 unknown, -1 bad argument. */
QELNIS_API int dirservice_groupnametogid(const char* groupName, int* gid);
/* The group's name, NUL-terminated and cut to size - 1 characters, in
 * buffer; an unknown gid leaves buffer untouched. 0 found, 1 unknown,
 * -1 bad argument. */
QELNIS_API int dirservice_gidtogroupname(int gid, char* buffer, int size);
/* *uid and *gid = the user's id and primary group. 0 found, 1 unknown,
 * -1 bad argument; on anything but 0 both are left as they were. */
QELNIS_API int dirservice_getlocalcreds(const char* userName, int* uid, int* gid);
/* As dirservice_gidtogroupname, with the user's name. */
QELNIS_API int dirservice_uidtousername(int uid, char* buffer, int size);

typedef int (*dirservice_gettype_fn)(int*);
typedef int (*dirservice_groupnametogid_fn)(const char*, int*);
typedef int (*dirservice_gidtogroupname_fn)(int, char*, int);
typedef int (*dirservice_getlocalcreds_fn)(const char*, int*, int*);
typedef int (*dirservice_uidtousername_fn)(int, char*, int);

#ifdef __cplusplus
}
#endif

#endif /* QELNIS_H */
