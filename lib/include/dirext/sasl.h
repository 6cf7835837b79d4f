/*
 * libdirext: SASL DIGEST-MD5 bind (RFC 2831, authentication only), the
 * library's MD5 (RFC 1321) and its pseudo-random pool.
 *
 * MD5 and libcrypto: libcrypto exports a function named MD5 as well.  The
 * library's MD5 has the same prototype as the one in <openssl/md5.h>, so a
 * program may include both headers in either order.  Rules for callers:
 *  - Which MD5 a program calls is decided when it is linked: put the library
 *    before libcrypto on the link line (-ldirext ... -lcrypto); the reference
 *    is then bound to the library's version node and stays with the library
 *    at run time.  Both compute the same digest; only the library's MD5 with a
 *    NULL output returns the library's own static buffer.
 *  - OpenSSL 3 marks its MD5 deprecated, and that mark attaches to every call
 *    of MD5 in a file that includes <openssl/md5.h>.  Such a file either
 *    defines OPENSSL_API_COMPAT=10101 before including OpenSSL's headers or
 *    uses MD5Init/MD5Update/MD5Final, which OpenSSL does not declare.
 *  - The context type is MD5Context; it is not OpenSSL's MD5_CTX.
 * The library itself never calls libcrypto's MD5, whatever the link order.
 */
#ifndef DIREXT_SASL_H
#define DIREXT_SASL_H

#include "dirext/common.h"

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- MD5 ---------------------------------------------------------------- */

typedef struct MD5Context {
    uint32_t state[4];        /* chaining words A, B, C, D */
    uint32_t count[2];        /* message length in bits, low word first */
    unsigned char buffer[64]; /* pending input */
} MD5Context;

/* Starts a digest in ctx (the caller's context), then feeds it len bytes at a
 * time; any split of the message gives the same digest. */
DIREXT_API void MD5Init(MD5Context *ctx);
DIREXT_API void MD5Update(MD5Context *ctx, const unsigned char *data, size_t len);
/* Writes the 16-byte digest (output first), then zeroes the context. */
DIREXT_API void MD5Final(unsigned char digest[16], MD5Context *ctx);
/* One-shot digest of len bytes into out.  With out NULL the digest goes to one
 * static buffer (not safe to share between threads), which is returned. */
DIREXT_API unsigned char *MD5(const unsigned char *data, size_t len, unsigned char *out);

/* ---- Random pool ---------------------------------------------------------
 * One pool per process, guarded by the library lock (CRYPTO_w_lock).  Seeded
 * on first use from process facts and from the operating system's random
 * source; XRAND_bytes returns 0 when the pool held enough entropy. */

#define XRAND_NOT_SEEDED 100 /* XRAND_bytes: bytes written, pool under-seeded */

/* Mix num bytes of buf into the pool, crediting entropy bytes of entropy
 * (XRAND_seed: num bytes); calls with num <= 0 or a NULL buf are ignored. */
DIREXT_API void XRAND_add(const void *buf, int num, double entropy);
DIREXT_API void XRAND_seed(const void *buf, int num);
/* 0 or XRAND_NOT_SEEDED; LDAP_PARAM_ERROR for num < 0 or a NULL buf. */
DIREXT_API int XRAND_bytes(unsigned char *buf, int num);
DIREXT_API int XRAND_pseudo_bytes(unsigned char *buf, int num);
DIREXT_API int XRAND_status(void); /* 1 when seeded, else 0 */
DIREXT_API int XRAND_poll(void);   /* returns 1 */
DIREXT_API void XRAND_cleanup(void);

/* ---- DIGEST-MD5 challenge parsing ---------------------------------------- */

/* Result codes of the challenge parser.  Codes 1022-1029 (scanner) reach
 * callers of getDigestChallenge/getResponseAuth as LDAP_PROTOCOL_ERROR (2);
 * 1021 as LDAP_NO_MEMORY. */
#define DIGEST_ERR_MAXBUF 1001          /* maxbuf zero or not a number */
#define DIGEST_ERR_DUPLICATE 1002       /* qop/maxbuf/charset/algorithm/cipher/stale twice */
#define DIGEST_ERR_ALGORITHM 1003       /* algorithm is not "md5-sess" */
#define DIGEST_ERR_CHARSET 1004         /* charset is not "utf-8" */
#define DIGEST_ERR_STALE_VALUE 1005     /* stale is not "true" */
#define DIGEST_ERR_NO_AUTH_QOP 1006     /* qop does not offer auth */
#define DIGEST_ERR_NO_CIPHER 1007       /* auth-conf without a known cipher */
#define DIGEST_ERR_NO_NONCE 1008
#define DIGEST_ERR_STALE 1009           /* stale challenge where a fresh one is expected */
#define DIGEST_ERR_NO_ALGORITHM 1010
#define DIGEST_ERR_SCAN_NOMEM 1021
#define DIGEST_ERR_NAME_CHAR 1022       /* bad character at or in a directive name */
#define DIGEST_ERR_EXPECT_EQUALS 1023
#define DIGEST_ERR_VALUE_START 1024     /* bad first character of a value */
#define DIGEST_ERR_TOKEN_END 1025       /* bad character after a token value */
#define DIGEST_ERR_EXPECT_COMMA 1026
#define DIGEST_ERR_TRAILING_COMMA 1027
#define DIGEST_ERR_END_IN_NAME 1028     /* input ends inside a name or before its value */
#define DIGEST_ERR_END_IN_QUOTE 1029
#define DIGEST_ERR_TOKEN_LIST 1030      /* bad character in a token list */
#define DIGEST_LAST_TOKEN 1031          /* parseTokenList: last token (not an error) */
#define DIGEST_ERR_NONCE_TWICE 1032

/* How a directive's value was written: "quoted" or as a token. */
#define DIGEST_VALUE_QUOTED 1
#define DIGEST_VALUE_TOKEN 2

/* One directive of a message, in message order. */
typedef struct DigestDirective {
    int kind;     /* DIGEST_VALUE_QUOTED or DIGEST_VALUE_TOKEN */
    char *name;   /* NUL-terminated */
    char *value;  /* NUL-terminated, unescaped */
    int length;   /* bytes in value */
    struct DigestDirective *next;
} DigestDirective;

/* State of parseDirectiveList, exposed for addDirective/addValue: the current
 * span runs from start to pos. */
typedef struct DigestScanner {
    const char *pos;
    const char *start;
    const char *data;
    int state;
    DigestDirective *first;
    DigestDirective *last;
} DigestScanner;

/* Cursor of parseTokenList; created by its first call, released with free()
 * (or ldapx_memfree) by the caller. */
typedef struct DigestTokenCursor {
    const char *pos;
    const char *start;
    const char *str;
    const char *end;
    int state;
    int result;
} DigestTokenCursor;

/* Bits of DigestChallengeRecord.qop: the qualities of protection the server
 * offers (an unknown one sets DIGEST_QOP_OTHER). */
#define DIGEST_QOP_AUTH 1u
#define DIGEST_QOP_AUTH_INT 2u
#define DIGEST_QOP_AUTH_CONF 4u
#define DIGEST_QOP_OTHER 8u

/* Bits of DigestChallengeRecord.cipher: the ciphers the server offers for
 * auth-conf (an unknown one sets DIGEST_CIPHER_OTHER). */
#define DIGEST_CIPHER_3DES 1u
#define DIGEST_CIPHER_DES 2u
#define DIGEST_CIPHER_RC4_40 4u
#define DIGEST_CIPHER_RC4 8u
#define DIGEST_CIPHER_RC4_56 16u
#define DIGEST_CIPHER_OTHER 32u

/* A server's challenge, from getDigestChallenge; released with
 * freeDigestChallenge, which frees every member. */
typedef struct DigestRealm {
    char *realm;
    struct DigestRealm *next;
} DigestRealm;

typedef struct DigestChallengeRecord {
    DigestRealm *realms;   /* last realm of the challenge first */
    int realm_count;
    char *nonce;
    unsigned qop;          /* DIGEST_QOP_* bits */
    unsigned stale;
    int maxbuf;            /* 65536 when the challenge gives none */
    char *charset;
    char *algorithm;
    unsigned cipher;       /* DIGEST_CIPHER_* bits */
} DigestChallengeRecord;

/* Scans len bytes.  0 and the list (NULL for empty input), *error_pos -1; or a
 * scanner code, no list, and for a bad character its offset in *error_pos
 * (error_pos may be NULL).  LDAP_PARAM_ERROR for NULL arguments. */
DIREXT_API int parseDirectiveList(const char *data, size_t len, DigestDirective **list,
                                  int *error_pos);
/* Frees every directive of the list with its name and value; NULL is ignored. */
DIREXT_API void freeParsedDirectives(DigestDirective *list);
/* Append a directive named by the scanner's current span, or attach the span
 * (unescaped when unescape is set) as the value of the last directive.
 * 0, or LDAP_NO_MEMORY. */
DIREXT_API int addDirective(DigestScanner *scanner);
DIREXT_API int addValue(DigestScanner *scanner, int unescape);
/* 1 for a token character (every byte but controls, space, 127 and
 * %()<>@,;:\[]?={}; bytes from 128 on, '"' and '/' are token characters),
 * else 0. */
DIREXT_API int isValidTokenChar(int c);
/* 1 for TAB, LF, CR and SPACE, else 0. */
DIREXT_API int isWhiteSpace(int c);
/* One token per call: 0 with *token and *token_len set (pointing into str), 0 with
 * *token NULL at the end of the list, DIGEST_LAST_TOKEN with the final token,
 * or an error code.  *cursor starts NULL. */
DIREXT_API int parseTokenList(const char *str, size_t len, const char **token, int *token_len,
                              DigestTokenCursor **cursor, int *error_pos);
/* Parses and checks a server's challenge: 0 and a new record in *challenge
 * (freeDigestChallenge), else a DIGEST_ERR_ code (a stale challenge is 1009
 * unless allow_stale), LDAP_PROTOCOL_ERROR for a NULL cred or a malformed
 * message, LDAP_NO_MEMORY, or LDAP_PARAM_ERROR for a NULL challenge;
 * *challenge is NULL on failure. */
DIREXT_API int getDigestChallenge(const struct berval *cred, DigestChallengeRecord **challenge,
                                  int allow_stale);
/* 0 with a heap copy of the rspauth value (free() it), or *rspauth NULL when
 * the message has none or cred is NULL. */
DIREXT_API int getResponseAuth(const struct berval *cred, char **rspauth);
/* Frees the record and everything it holds; NULL is ignored. */
DIREXT_API void freeDigestChallenge(DigestChallengeRecord *challenge);

/* One handler per known directive: stores the directive's value in the
 * record.  0, a DIGEST_ERR_ code for a value or a repetition the challenge
 * may not have, LDAP_NO_MEMORY (realm, nonce, charset, algorithm), or
 * LDAP_PARAM_ERROR for NULL arguments or a directive without a value. */
DIREXT_API int handleRealm(const DigestDirective *d, DigestChallengeRecord *c);
DIREXT_API int handleNonce(const DigestDirective *d, DigestChallengeRecord *c);
DIREXT_API int handleQop(const DigestDirective *d, DigestChallengeRecord *c);
DIREXT_API int handleMaxbuf(const DigestDirective *d, DigestChallengeRecord *c);
DIREXT_API int handleCharset(const DigestDirective *d, DigestChallengeRecord *c);
DIREXT_API int handleAlgorithm(const DigestDirective *d, DigestChallengeRecord *c);
DIREXT_API int handleCipher(const DigestDirective *d, DigestChallengeRecord *c);
DIREXT_API int handleStale(const DigestDirective *d, DigestChallengeRecord *c);

/* ---- DIGEST-MD5 bind ----------------------------------------------------- */

#define DIGEST_MD5_PROCEED 1
#define DIGEST_MD5_CANCEL 2

/* The response would not fit the 4096-byte credentials buffer (a very long
 * user, realm, host or server nonce): nothing is sent. */
#define DIGEST_ERR_RESPONSE_TOO_LONG LDAP_ENCODING_ERROR

typedef struct DigestMD5Context DigestMD5Context;

/* First bind: fetches and validates the server's challenge.  0 and a context;
 * 2 when the server completed the bind without a challenge; a challenge code
 * (1001-1010, 1026, 1027, 1030, 1032); or the libldap code of the bind. */
DIREXT_API int ldap_bind_digest_md5_start(LDAP *ld, DigestMD5Context **ctx);
/* The offered realms, last of the challenge first, NULL-terminated; owned by
 * the context and the same array on every call. */
DIREXT_API int ldap_get_digest_md5_realms(DigestMD5Context *ctx, char ***realms);
/* Second bind.  password_len -1: password is NUL-terminated.  action
 * DIGEST_MD5_PROCEED sends the response and verifies the server's rspauth
 * (LDAP_INVALID_CREDENTIALS when it is missing or wrong); DIGEST_MD5_CANCEL
 * restarts the exchange and returns LDAP_USER_CANCELLED.  *ctx is released and
 * set to NULL on every return except when waiting for the server's answer
 * fails (the session's error code; the caller may call again). */
DIREXT_API int ldap_bind_digest_md5_finish(DigestMD5Context **ctx, const char *user,
                                           const char *password, int password_len,
                                           int realm_index, int action);

/* 64 upper-case hex characters and a NUL (65 bytes) from the random pool;
 * returns the pool's result (0 or XRAND_NOT_SEEDED, then out holds only the
 * terminator at out[64]). */
DIREXT_API int getNonce(char *out);
/* 16 bytes to 32 lower-case hex characters and a NUL. */
DIREXT_API void ConvertHex(const unsigned char *digest, char *out);
/* HA1 as 32 hex characters and a NUL; password_len -1: NUL-terminated. */
DIREXT_API void DigestCalcHA1(const char *algorithm, const char *user, const char *realm,
                              const char *password, int password_len, const char *nonce,
                              const char *cnonce, char *out);
DIREXT_API void DigestCalcResponse(const char *ha1, const char *nonce, const char *nc,
                                   const char *cnonce, const char *qop, const char *method,
                                   const char *digest_uri, int include_method, char *out);
/* Builds the credentials of the second bind into cred (bv_val is the caller's
 * to free()).  Quoted values are escaped as RFC 2831 requires ('"' and '\').
 * DIGEST_ERR_RESPONSE_TOO_LONG when they would not fit 4096 bytes. */
DIREXT_API int createDigestResponse(const char *user, const char *password, int password_len,
                                    const char *realm, const char *host, const char *cnonce,
                                    int nc, const DigestChallengeRecord *challenge,
                                    struct berval *cred);
/* 0 when the server's rspauth proves it knows the password; otherwise
 * LDAP_INVALID_CREDENTIALS, also when rspauth or the credentials are missing. */
DIREXT_API int validateServerResponse(const char *user, const char *password, int password_len,
                                      const char *realm, const char *host, const char *cnonce,
                                      int nc, const DigestChallengeRecord *challenge,
                                      const struct berval *server_cred);

/* Another authentication method, which this library does not support: each
 * ignores its arguments and returns LDAP_NOT_SUPPORTED. */
DIREXT_API int ldap_bind_tovar_s(LDAP *ld, const char *dn, const char *password);
DIREXT_API int ldap_bind_tovar_ex_s(LDAP *ld, const char *dn, const char *password,
                                    LDAPControl **sctrls, LDAPControl **cctrls);
DIREXT_API int ldap_tovar_get_errcode(LDAP *ld, int *errcode);

#ifdef __cplusplus
}
#endif

#endif /* DIREXT_SASL_H */
