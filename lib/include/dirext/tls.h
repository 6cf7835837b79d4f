/*
 * libdirext: TLS client support.
 *
 * The library keeps one TLS client context (an OpenSSL SSL_CTX) for the whole
 * process and installs it as libldap's process-wide default, so every session
 * that negotiates TLS afterwards (an ldaps:// URL, or StartTLS) uses it:
 *
 *     ldapssl_client_init(NULL, NULL);
 *     ldapssl_add_trusted_cert("ca.pem", LDAPSSL_CERT_FILE_PEM);
 *     LDAP *ld = ldapssl_init("127.0.0.1", 636, 1);
 *     ... bind, work, ldap_unbind_ext_s(ld, NULL, NULL) ...
 *     ldapssl_client_deinit();
 *
 * Initialise from one thread before other threads use TLS.  Trust settings,
 * verify mode and client credentials apply to sessions created (for the
 * verify mode's host-name check) or handshaking (for the rest) afterwards.
 *
 * Result codes: the ldapssl_ functions answer 0 for success and -1 for
 * failure; the two client-credential setters answer 1 for failure and -9
 * (LDAP_PARAM_ERROR) for a null source.
 *
 * Besides <ldap.h> (see common.h for the order), this header includes
 * OpenSSL's <openssl/ssl.h> and <openssl/pkcs12.h>, whose types it uses.
 */
#ifndef DIREXT_TLS_H
#define DIREXT_TLS_H

#include "common.h" /* first: it reads <ldap.h> */

#include <pthread.h>

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/pkcs12.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

/* OpenSSL 1.0 defined CRYPTO_w_lock/CRYPTO_w_unlock as macros over its own
 * lock table; OpenSSL 3 defines neither.  The names here are the library's
 * functions (the library lock), so no such macro may stand in their way. */
#undef CRYPTO_w_lock
#undef CRYPTO_w_unlock

#ifdef __cplusplus
extern "C" {
#endif

/* Verify modes (OpenSSL's SSL_VERIFY_NONE / SSL_VERIFY_PEER). */
#define LDAPSSL_VERIFY_OFF  0
#define LDAPSSL_VERIFY_PEER 1

/* Certificate and key sources: the `type` argument.  A FILE source is a path
 * (const char *), a BUFFER source a struct berval * (length, then bytes). */
#define LDAPSSL_CERT_FILE_PEM      1
#define LDAPSSL_CERT_FILE_DER      2
#define LDAPSSL_CERT_BUFFER_PEM    3
#define LDAPSSL_CERT_BUFFER_DER    4
#define LDAPSSL_CERT_FILE_PKCS12   5
#define LDAPSSL_CERT_BUFFER_PKCS12 6

/* Output forms of ldapssl_get_cert. */
#define LDAPSSL_CERT_OUT_PEM 3
#define LDAPSSL_CERT_OUT_DER 4

/* Selectors of ldapssl_get_cert_attribute. */
#define LDAPSSL_CERT_ISSUER       1
#define LDAPSSL_CERT_SUBJECT      2
#define LDAPSSL_CERT_VALIDITY     3
#define LDAPSSL_CERT_VERIFY_ERROR 100

/* Kinds of a validity time. */
#define LDAPSSL_TIME_UTC         1
#define LDAPSSL_TIME_GENERALIZED 2

/* Size of g_Locks: OpenSSL 1.0's lock count. */
#define LDAPSSL_NUM_LOCKS 41

/* A certificate's validity, as stored in it (LDAPSSL_CERT_VALIDITY): each
 * time's characters (e.g. "250101000000Z"), at most 39, zero-terminated, and
 * its kind (LDAPSSL_TIME_*; 0 when the time is empty).  88 bytes. */
typedef struct ldapssl_validity {
    char not_before[40];
    int not_before_kind;
    char not_after[40];
    int not_after_kind;
} ldapssl_validity;

#if defined(__cplusplus)
static_assert(sizeof(ldapssl_validity) == 88, "ldapssl_validity is 88 bytes");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(ldapssl_validity) == 88, "ldapssl_validity is 88 bytes");
#endif

/* The application's certificate callback.  It is asked only about a
 * certificate that failed OpenSSL's own checks; cert_handle is the
 * verification's X509_STORE_CTX, which ldapssl_get_cert and
 * ldapssl_get_cert_attribute read.  Return 0 to accept the certificate,
 * anything else to refuse it.  It runs on the handshaking thread with no
 * library lock held.  Accepting a chain does not waive libldap's host-name
 * check. */
typedef int (*LDAPSSL_CERT_CALLBACK)(void *cert_handle);

/* ---- Process-wide state (read it under g_Sync, never change it) ---------- */

/* Guards g_SSLReg, g_CryptCtx, g_pCertCallback and every change to the
 * context. */
DIREXT_API extern pthread_mutex_t g_Sync;
/* 1 while the library is initialised. */
DIREXT_API extern int g_SSLReg;
/* The current TLS client context, or NULL. */
DIREXT_API extern SSL_CTX *g_CryptCtx;
/* The application's certificate callback, or NULL. */
DIREXT_API extern LDAPSSL_CERT_CALLBACK g_pCertCallback;
/* The mutexes behind LockCallback. */
DIREXT_API extern pthread_mutex_t g_Locks[LDAPSSL_NUM_LOCKS];
/* The random-device buffer of initialisation; NULL outside it. */
DIREXT_API extern unsigned char *randbuf;
/* Reserved; always zero. */
DIREXT_API extern void *g_pSockets;
DIREXT_API extern int g_MaxSockets;
DIREXT_API extern void *g_pCertAlertCB;

/* ---- Context, verification, sessions ------------------------------------- */

/* Initialises OpenSSL (once) and installs a new context with verify mode
 * LDAPSSL_VERIFY_PEER, replacing the previous one and everything set on it.
 * cert_file, if given and readable, holds trusted certificates (DER, or PEM
 * with any number of them); an unreadable path is passed over.  reserved is
 * ignored (pass NULL).  Fails (-1) when libldap is not built with OpenSSL. */
DIREXT_API int ldapssl_client_init(const char *cert_file, void *reserved);
/* Releases the context; -1 if not initialised.  libldap keeps its own
 * reference for sessions that already use it. */
DIREXT_API int ldapssl_client_deinit(void);
/* A new, unconnected session for ldaps://host:port (secure != 0) or
 * ldap://host:port; NULL on failure.  Release it with ldap_unbind_ext. */
DIREXT_API LDAP *ldapssl_init(const char *host, int port, int secure);
/* LDAPSSL_VERIFY_OFF also switches libldap's host-name check off;
 * LDAPSSL_VERIFY_PEER switches it on.  Removes the verify callback's hook. */
DIREXT_API int ldapssl_set_verify_mode(int mode);
DIREXT_API int ldapssl_get_verify_mode(int *mode);
/* Installs (or, with NULL, removes) the certificate callback; sets verify
 * mode LDAPSSL_VERIFY_PEER. */
DIREXT_API int ldapssl_set_verify_callback(LDAPSSL_CERT_CALLBACK callback);
/* The OpenSSL verify callback the library installs (SSL_verify_cb). */
DIREXT_API int verify_callback(int ok, X509_STORE_CTX *store_ctx);

/* ---- Locking ------------------------------------------------------------- */

/* Creates the LDAPSSL_NUM_LOCKS mutexes of g_Locks and registers the locking
 * callbacks with OpenSSL where it still takes them (OpenSSL 1.1 and later
 * lock internally and ignore them).  Call before TLS use from several
 * threads; LockCleanUp after the last. */
DIREXT_API void LockInit(void);
/* Locks (bit 0 of mode set) or unlocks g_Locks[n]; ignores an n out of
 * range.  file and line are ignored. */
DIREXT_API void LockCallback(int mode, int n, const char *file, int line);
/* Disposes of the mutexes of g_Locks; a mutex held at the time is left as it
 * is. */
DIREXT_API void LockCleanUp(void);
/* Does nothing. */
DIREXT_API void CRYPTO_thread_setup(void);
/* Destroys the library lock (it remains usable afterwards). */
DIREXT_API void CRYPTO_thread_cleanup(void);
/* Take and release the library lock (the random pool's); type is ignored. */
DIREXT_API void CRYPTO_w_lock(int type);
DIREXT_API void CRYPTO_w_unlock(int type);

/* ---- Certificates and keys ----------------------------------------------- */

/* Adds trusted certificates, types 1 to 4; a PEM source may hold several,
 * added in order.  Adding a certificate again is not an error. */
DIREXT_API int ldapssl_add_trusted_cert(const void *source, int type);
/* Sets the client certificate (types 1 to 6) or private key (1, 3, 5, 6).
 * password decrypts an encrypted PEM key or a PKCS#12 bundle (NULL: none);
 * OpenSSL never prompts for one.  From a PKCS#12 bundle the first
 * certificate (or key) is taken. */
DIREXT_API int ldapssl_set_client_cert(const void *source, int type, const char *password);
DIREXT_API int ldapssl_set_client_private_key(const void *source, int type, const char *password);

/* From inside the certificate callback: the certificate under verification
 * in LDAPSSL_CERT_OUT_PEM or _DER form.  With out->bv_val NULL, out->bv_len
 * receives the size needed; otherwise at most out->bv_len bytes are written to
 * out->bv_val and out->bv_len becomes the number written. */
DIREXT_API int ldapssl_get_cert(void *cert_handle, int format, struct berval *out);
/* From inside the certificate callback:
 * - LDAPSSL_CERT_ISSUER / _SUBJECT: the name in OpenSSL's one-line form
 *   ("/C=../CN=.."), length n.  out NULL: *len = n.  Otherwise copies at most
 *   *len bytes and zero-fills the rest; if n < *len, *len = n (terminated);
 *   else the text is cut to *len bytes, unterminated, and *len is unchanged.
 *   So size-query, then pass a buffer of n + 1.
 * - LDAPSSL_CERT_VALIDITY: *len = 88 on return (its value on entry is not
 *   read); out, if given, must hold an ldapssl_validity (88 bytes).
 * - LDAPSSL_CERT_VERIFY_ERROR: *len = 4 with out NULL; otherwise *len must be
 *   4 and out receives the X509_V_ERR_* code as an int. */
DIREXT_API int ldapssl_get_cert_attribute(void *cert_handle, int selector, void *out, int *len);

/* ---- Building blocks (exported for tools and tests) ---------------------- */

/* Adds one certificate to the context's store; 0 or -1.  Caller holds
 * g_Sync. */
DIREXT_API int add_cert(X509 *cert);
/* A file BIO open for reading, or NULL.  Free it with BIO_free_all. */
DIREXT_API BIO *file_to_BIO(const char *path);
/* The clear PEM text of a PKCS#12 bundle read from in (certificates as
 * subject/issuer lines and PEM blocks, keys as unencrypted PEM, each after its
 * attribute lines), or NULL (bad data, wrong password).  Legacy algorithms
 * (RC2-40, 3DES) are accepted without touching the application's OpenSSL
 * provider set-up.  The bundle's MAC is not checked. */
DIREXT_API BIO *pkcs12_BIO_to_clear_BIO(BIO *in, const char *password);
/* The steps of pkcs12_BIO_to_clear_BIO, writing to out; 1 success, 0
 * failure. */
DIREXT_API int dump_certs_keys_buf(BIO *out, BIO *in, const char *password);
DIREXT_API int dump_certs_keys_p12(BIO *out, PKCS12 *p12, const char *password);
DIREXT_API int dump_certs_pkeys_bags(BIO *out, const STACK_OF(PKCS12_SAFEBAG) *bags,
                                     const char *password);
DIREXT_API int dump_certs_pkeys_bag(BIO *out, const PKCS12_SAFEBAG *bag, const char *password);
/* Writes an attribute list under the heading name; returns 1. */
DIREXT_API int print_attribs(BIO *out, const STACK_OF(X509_ATTRIBUTE) *attributes,
                             const char *name);
/* Writes each byte as "%02X ". */
DIREXT_API void hex_prin(BIO *out, const unsigned char *bytes, int len);
/* Writes "subject=<name>\nissuer= <name>\n"; returns 0. */
DIREXT_API int dump_cert_text(BIO *out, X509 *cert);

#ifdef __cplusplus
}
#endif

#endif /* DIREXT_TLS_H */
