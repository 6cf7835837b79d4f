// Internal interface of the SASL area.  The exported functions are wrappers
// over these; the library's own code calls only these, so that no exported
// name (several are common: MD5, MD5Init, getNonce) can be interposed by
// another object of the process.
#pragma once

#include "core/handles.h"  // reads <ldap.h> the library's way
#include "dirext/sasl.h"

#include <cstddef>
#include <memory>

struct DigestMD5Context {
    DigestChallengeRecord *challenge;  // owned
    char **realm_array;                // owned, one block; null until asked for
    int state;                         // 1 once a valid challenge is held
    LDAP *ld;                          // the caller's session; not owned
};

namespace dirext::sasl {

constexpr int kContextReady = 1;
constexpr std::size_t kResponseBufferSize = 4096;
constexpr std::size_t kNonceChars = 64;

// Challenge parsing.
int parse_directives(const char *data, std::size_t len, DigestDirective **list, int *error_pos);
void free_directives(DigestDirective *list);
int add_directive(DigestScanner *scanner);
int add_value(DigestScanner *scanner, int unescape);
bool is_token_char(int c);
bool is_white_space(int c);
int parse_token_list(const char *str, std::size_t len, const char **token, int *token_len,
                     DigestTokenCursor **cursor, int *error_pos);
int get_challenge(const struct berval *cred, DigestChallengeRecord **challenge, int allow_stale);
int get_response_auth(const struct berval *cred, char **rspauth);
void free_challenge(DigestChallengeRecord *challenge);

int handle_realm(const DigestDirective *d, DigestChallengeRecord *c);
int handle_nonce(const DigestDirective *d, DigestChallengeRecord *c);
int handle_qop(const DigestDirective *d, DigestChallengeRecord *c);
int handle_maxbuf(const DigestDirective *d, DigestChallengeRecord *c);
int handle_charset(const DigestDirective *d, DigestChallengeRecord *c);
int handle_algorithm(const DigestDirective *d, DigestChallengeRecord *c);
int handle_cipher(const DigestDirective *d, DigestChallengeRecord *c);
int handle_stale(const DigestDirective *d, DigestChallengeRecord *c);

// Response computation.
int get_nonce(char *out);
void convert_hex(const unsigned char *digest, char *out);
void calc_ha1(const char *algorithm, const char *user, const char *realm, const char *password,
              int password_len, const char *nonce, const char *cnonce, char *out);
void calc_response(const char *ha1, const char *nonce, const char *nc, const char *cnonce,
                   const char *qop, const char *method, const char *digest_uri, int include_method,
                   char *out);
int create_response(const char *user, const char *password, int password_len, const char *realm,
                    const char *host, const char *cnonce, int nc,
                    const DigestChallengeRecord *challenge, struct berval *cred);
int validate_response(const char *user, const char *password, int password_len, const char *realm,
                      const char *host, const char *cnonce, int nc,
                      const DigestChallengeRecord *challenge, const struct berval *server_cred);

// Random pool.
void rand_add(const void *buf, int num, double entropy);
int rand_bytes(unsigned char *buf, int num);
int rand_status();
int rand_poll();
void rand_cleanup();

// The pool's bookkeeping, for tests.
struct PoolSnapshot {
    int pos;
    int fill;
    unsigned char digest[16];
    unsigned long long counters[2];
    double entropy;
    bool polled;
    bool stirred;
};
PoolSnapshot pool_snapshot();
// Sets the flag and the estimate directly, for tests of an under-seeded pool.
void pool_set_for_testing(bool polled, double entropy);

using DirectivesPtr = std::unique_ptr<DigestDirective, Deleter<free_directives>>;
using ChallengePtr = std::unique_ptr<DigestChallengeRecord, Deleter<free_challenge>>;

}  // namespace dirext::sasl
