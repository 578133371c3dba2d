/* SPDX-License-Identifier: MIT */
/* A stand-in GSS-API library that exports every name the back end resolves
 * except the last one, gss_display_name: the loader must release it and
 * leave the back end unavailable. None of these is ever called. */
int gss_import_name(void) { return 0; }
int gss_init_sec_context(void) { return 0; }
int gss_delete_sec_context(void) { return 0; }
int gss_release_buffer(void) { return 0; }
int gss_release_name(void) { return 0; }
int gss_get_mic(void) { return 0; }
int gss_verify_mic(void) { return 0; }
int gss_wrap(void) { return 0; }
int gss_unwrap(void) { return 0; }
int gss_display_status(void) { return 0; }
void* gss_nt_service_name = 0;
int gss_inquire_cred(void) { return 0; }
int gss_release_oid_set(void) { return 0; }
