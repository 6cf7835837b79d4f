// The two-call DIGEST-MD5 bind (RFC 2831, authentication only) and the
// response computations it rests on.
#include "sasl/digest.h"

#include "core/alloc.h"
#include "core/result.h"
#include "sasl/md5.h"

#include <cstdio>
#include <cstring>

namespace dirext::sasl {
namespace {

constexpr char kMechanism[] = "DIGEST-MD5";
constexpr char kMethod[] = "AUTHENTICATE";
constexpr char kUriPrefix[] = "ldap/";
constexpr char kAuthIntZeros[] = "00000000000000000000000000000000";
constexpr std::size_t kHexDigest = 2 * md5::kDigestSize;

const char *or_empty(const char *s) { return s ? s : ""; }

void update_str(MD5Context *m, const char *s) { md5::update(m, s, std::strlen(or_empty(s))); }

const char *qop_of(const DigestChallengeRecord *c)
{
    if (c->qop & DIGEST_QOP_AUTH) return "auth";
    if (c->qop & DIGEST_QOP_AUTH_INT) return "auth-int";
    if (c->qop & DIGEST_QOP_AUTH_CONF) return "auth-conf";
    return "";
}

// Appends to a fixed buffer, remembering whether anything did not fit.
class Writer {
public:
    Writer(char *buf, std::size_t cap) : buf_(buf), cap_(cap) {}
    Writer &raw(const char *s)
    {
        for (; *s; ++s) put(*s);
        return *this;
    }
    // A quoted-string value: '"' and '\' are escaped, as RFC 2831 requires,
    // so that no value can end its quotes early or add directives.
    Writer &quoted(const char *s)
    {
        put('"');
        for (; *s; ++s) {
            if (*s == '"' || *s == '\\') put('\\');
            put(*s);
        }
        put('"');
        return *this;
    }
    // True when the text and a terminator fit; the terminator is written.
    bool finish()
    {
        if (len_ >= cap_) return false;
        buf_[len_] = '\0';
        return true;
    }
    std::size_t length() const { return len_; }

private:
    void put(char c)
    {
        if (len_ < cap_) buf_[len_] = c;
        ++len_;
    }
    char *buf_;
    std::size_t cap_;
    std::size_t len_ = 0;
};

// Constant-time comparison of two NUL-terminated strings.
bool same_secret(const char *a, const char *b)
{
    const std::size_t la = std::strlen(a), lb = std::strlen(b);
    unsigned char diff = la == lb ? 0 : 1;
    for (std::size_t i = 0; i < la && i < lb; ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

void free_context(DigestMD5Context *ctx)
{
    if (!ctx) return;
    free_challenge(ctx->challenge);
    std::free(ctx->realm_array);
    std::free(ctx);
}

using ContextPtr = std::unique_ptr<DigestMD5Context, Deleter<free_context>>;

// Waits for the answer to a bind and returns its result code; the server's
// credentials, if any, go to *scred.  *waited is false when the wait itself
// failed (the code is then the session's).
int await_bind(LDAP *ld, int msgid, BervalPtr &scred, bool *waited)
{
    LDAPMessage *res = nullptr;
    const int got = ldap_result(ld, msgid, LDAP_MSG_ALL, nullptr, &res);
    *waited = got > 0;
    if (got <= 0) {
        ldap_msgfree(res);
        return got == 0 ? LDAP_TIMEOUT : stored_result(ld);
    }
    struct berval *cred = nullptr;
    int rc = ldap_parse_sasl_bind_result(ld, res, &cred, 1);
    scred.reset(cred);
    // libldap reports a successful parse and leaves the bind's result code
    // on the session.
    if (rc == LDAP_SUCCESS) rc = stored_result(ld);
    return rc;
}

// The host of the session, without its port: digest-uri is ldap/<host>.
int session_host(LDAP *ld, MallocPtr<char> &host)
{
    char *raw = nullptr;
    if (ldap_get_option(ld, LDAP_OPT_HOST_NAME, &raw) != LDAP_OPT_SUCCESS) raw = nullptr;
    LdapStringPtr owned(raw);
    const char *text = or_empty(raw);
    std::size_t n = std::strlen(text);
    if (const char *colon = std::strrchr(text, ':')) {
        const char *bracket = std::strrchr(text, ']');
        if (!bracket || bracket < colon) n = static_cast<std::size_t>(colon - text);
    }
    host.reset(dup_bytes(text, n));
    return host ? 0 : LDAP_NO_MEMORY;
}

}  // namespace

void convert_hex(const unsigned char *digest, char *out)
{
    static const char kHex[] = "0123456789abcdef";
    if (!digest || !out) return;
    for (std::size_t i = 0; i < md5::kDigestSize; ++i) {
        out[2 * i] = kHex[digest[i] >> 4];
        out[2 * i + 1] = kHex[digest[i] & 15];
    }
    out[kHexDigest] = '\0';
}

int get_nonce(char *out)
{
    static const char kHex[] = "0123456789ABCDEF";
    if (!out) return LDAP_PARAM_ERROR;
    unsigned char raw[kNonceChars / 2];
    const int rc = rand_bytes(raw, sizeof raw);
    if (rc == 0) {
        for (std::size_t i = 0; i < sizeof raw; ++i) {
            out[2 * i] = kHex[raw[i] & 15];  // low nibble first
            out[2 * i + 1] = kHex[raw[i] >> 4];
        }
    }
    out[kNonceChars] = '\0';
    md5::wipe(raw, sizeof raw);
    return rc;
}

void calc_ha1(const char *algorithm, const char *user, const char *realm, const char *password,
              int password_len, const char *nonce, const char *cnonce, char *out)
{
    if (!out) return;
    std::size_t plen = 0;
    if (password) plen = password_len < 0 ? std::strlen(password) : static_cast<std::size_t>(password_len);
    unsigned char h[md5::kDigestSize];
    MD5Context m;
    md5::init(&m);
    update_str(&m, user);
    md5::update(&m, ":", 1);
    update_str(&m, realm);
    md5::update(&m, ":", 1);
    md5::update(&m, password ? password : "", plen);
    md5::final(h, &m);
    if (algorithm && std::strcmp(algorithm, "md5-sess") == 0) {
        md5::init(&m);
        md5::update(&m, h, sizeof h);
        md5::update(&m, ":", 1);
        update_str(&m, nonce);
        md5::update(&m, ":", 1);
        update_str(&m, cnonce);
        md5::final(h, &m);
    }
    convert_hex(h, out);
    md5::wipe(h, sizeof h);
}

void calc_response(const char *ha1, const char *nonce, const char *nc, const char *cnonce,
                   const char *qop, const char *method, const char *digest_uri, int include_method,
                   char *out)
{
    if (!out) return;
    unsigned char h[md5::kDigestSize];
    char ha2[kHexDigest + 1];
    MD5Context m;
    md5::init(&m);
    if (include_method == 1) update_str(&m, method);
    md5::update(&m, ":", 1);
    update_str(&m, digest_uri);
    if (qop && std::strcmp(qop, "auth-int") == 0) {
        md5::update(&m, ":", 1);
        md5::update(&m, kAuthIntZeros, kHexDigest);
    }
    md5::final(h, &m);
    convert_hex(h, ha2);

    md5::init(&m);
    md5::update(&m, or_empty(ha1), strnlen(or_empty(ha1), kHexDigest));
    md5::update(&m, ":", 1);
    update_str(&m, nonce);
    md5::update(&m, ":", 1);
    if (qop && *qop) {
        update_str(&m, nc);
        md5::update(&m, ":", 1);
        update_str(&m, cnonce);
        md5::update(&m, ":", 1);
        update_str(&m, qop);
        md5::update(&m, ":", 1);
    }
    md5::update(&m, ha2, kHexDigest);
    md5::final(h, &m);
    convert_hex(h, out);
}

int create_response(const char *user, const char *password, int password_len, const char *realm,
                    const char *host, const char *cnonce, int nc,
                    const DigestChallengeRecord *challenge, struct berval *cred)
{
    if (!cred) return LDAP_PARAM_ERROR;
    cred->bv_val = nullptr;
    cred->bv_len = 0;
    if (!user || !cnonce || !challenge || !challenge->nonce) return LDAP_PARAM_ERROR;
    MallocPtr<char> buf(static_cast<char *>(alloc(kResponseBufferSize)));
    if (!buf) return LDAP_NO_MEMORY;

    realm = or_empty(realm);
    host = or_empty(host);
    // A digest-uri longer than the whole buffer cannot be sent anyway.
    if (std::strlen(host) >= kResponseBufferSize - sizeof kUriPrefix) return DIGEST_ERR_RESPONSE_TOO_LONG;
    char digest_uri[kResponseBufferSize];
    std::snprintf(digest_uri, sizeof digest_uri, "%s%s", kUriPrefix, host);
    const char *qop = qop_of(challenge);
    char nc_text[16];
    std::snprintf(nc_text, sizeof nc_text, "%8.8x", static_cast<unsigned>(nc));
    char ha1[kHexDigest + 1], response[kHexDigest + 1];
    calc_ha1(challenge->algorithm, user, realm, password, password_len, challenge->nonce, cnonce, ha1);
    calc_response(ha1, challenge->nonce, nc_text, cnonce, qop, kMethod, digest_uri, 1, response);
    md5::wipe(ha1, sizeof ha1);

    Writer w(buf.get(), kResponseBufferSize);
    w.raw("username=").quoted(user);
    if (*realm) w.raw(",realm=").quoted(realm);
    w.raw(",cnonce=").quoted(cnonce);
    w.raw(",nc=").raw(nc_text);
    w.raw(",qop=").raw(qop);
    w.raw(",digest-uri=").quoted(digest_uri);
    w.raw(",response=").raw(response);
    w.raw(",charset=utf-8,nonce=").quoted(challenge->nonce);
    if (!w.finish()) return DIGEST_ERR_RESPONSE_TOO_LONG;
    cred->bv_len = w.length();
    cred->bv_val = buf.release();
    return 0;
}

int validate_response(const char *user, const char *password, int password_len, const char *realm,
                      const char *host, const char *cnonce, int nc,
                      const DigestChallengeRecord *challenge, const struct berval *server_cred)
{
    if (!user || !cnonce || !challenge || !challenge->nonce) return LDAP_PARAM_ERROR;
    char *raw = nullptr;
    if (const int rc = get_response_auth(server_cred, &raw); rc != 0) return rc;
    MallocPtr<char> rspauth(raw);
    // Without rspauth the server has not shown that it knows the password.
    if (!rspauth) return LDAP_INVALID_CREDENTIALS;

    host = or_empty(host);
    const std::size_t uri_len = sizeof kUriPrefix - 1 + std::strlen(host);
    MallocPtr<char> digest_uri(static_cast<char *>(alloc(uri_len + 1)));
    if (!digest_uri) return LDAP_NO_MEMORY;
    std::snprintf(digest_uri.get(), uri_len + 1, "%s%s", kUriPrefix, host);
    char nc_text[16];
    std::snprintf(nc_text, sizeof nc_text, "%8.8x", static_cast<unsigned>(nc));
    char ha1[kHexDigest + 1], expected[kHexDigest + 1];
    calc_ha1(challenge->algorithm, user, or_empty(realm), password, password_len, challenge->nonce,
             cnonce, ha1);
    calc_response(ha1, challenge->nonce, nc_text, cnonce, qop_of(challenge), kMethod,
                  digest_uri.get(), 0, expected);
    md5::wipe(ha1, sizeof ha1);
    return same_secret(rspauth.get(), expected) ? 0 : LDAP_INVALID_CREDENTIALS;
}

}  // namespace dirext::sasl

using namespace dirext;
using namespace dirext::sasl;

extern "C" {

DIREXT_API int ldap_bind_digest_md5_start(LDAP *ld, DigestMD5Context **ctx)
{
    if (!ctx) return LDAP_PARAM_ERROR;
    *ctx = nullptr;
    if (!ld) return LDAP_PARAM_ERROR;
    int msgid = -1;
    if (const int rc = ldap_sasl_bind(ld, nullptr, kMechanism, nullptr, nullptr, nullptr, &msgid); rc != 0)
        return rc;
    BervalPtr scred;
    bool waited = false;
    const int rc = await_bind(ld, msgid, scred, &waited);
    if (rc == LDAP_SUCCESS) return LDAP_PROTOCOL_ERROR;  // completed without a challenge
    if (rc != LDAP_SASL_BIND_IN_PROGRESS) return rc;

    DigestChallengeRecord *raw = nullptr;
    if (const int crc = get_challenge(scred.get(), &raw, 0); crc != 0) return crc;
    ChallengePtr challenge(raw);
    auto *c = static_cast<DigestMD5Context *>(alloc_zeroed(1, sizeof(DigestMD5Context)));
    if (!c) return LDAP_NO_MEMORY;
    c->challenge = challenge.release();
    c->state = kContextReady;
    c->ld = ld;
    *ctx = c;
    return 0;
}

DIREXT_API int ldap_get_digest_md5_realms(DigestMD5Context *ctx, char ***realms)
{
    if (realms) *realms = nullptr;
    if (!ctx || !realms || ctx->state != kContextReady) return LDAP_PARAM_ERROR;
    if (!ctx->realm_array) {
        const DigestChallengeRecord *c = ctx->challenge;
        const std::size_t slots = static_cast<std::size_t>(c->realm_count) + 1;
        std::size_t size = slots * sizeof(char *);
        for (const DigestRealm *r = c->realms; r; r = r->next) size += std::strlen(r->realm) + 1;
        auto **array = static_cast<char **>(alloc(size));
        if (!array) return LDAP_NO_MEMORY;
        char *text = reinterpret_cast<char *>(array + slots);
        std::size_t i = 0;
        for (const DigestRealm *r = c->realms; r; r = r->next) {
            const std::size_t n = std::strlen(r->realm) + 1;
            std::memcpy(text, r->realm, n);
            array[i++] = text;
            text += n;
        }
        array[i] = nullptr;
        ctx->realm_array = array;
    }
    *realms = ctx->realm_array;
    return 0;
}

DIREXT_API int ldap_bind_digest_md5_finish(DigestMD5Context **ctxp, const char *user,
                                           const char *password, int password_len, int realm_index,
                                           int action)
{
    if (!ctxp || !*ctxp) return LDAP_PARAM_ERROR;
    // The context is consumed on every return but a failed wait for the answer.
    ContextPtr ctx(*ctxp);
    *ctxp = nullptr;
    if (ctx->state != kContextReady) return LDAP_PARAM_ERROR;
    LDAP *ld = ctx->ld;
    const DigestChallengeRecord *challenge = ctx->challenge;
    int msgid = -1;

    if (action == DIGEST_MD5_CANCEL) {
        const int rc = ldap_sasl_bind(ld, nullptr, kMechanism, nullptr, nullptr, nullptr, &msgid);
        return rc != 0 ? rc : LDAP_USER_CANCELLED;
    }
    if (action != DIGEST_MD5_PROCEED || !user || realm_index < 0 || realm_index >= challenge->realm_count ||
        password_len < -1)
        return LDAP_PARAM_ERROR;

    const DigestRealm *realm = challenge->realms;
    for (int i = 0; i < realm_index; ++i) realm = realm->next;

    char cnonce[kNonceChars + 1];
    if (const int rc = get_nonce(cnonce); rc != 0) return rc;
    MallocPtr<char> host;
    if (const int rc = session_host(ld, host); rc != 0) return rc;
    if (!password) password_len = 0;
    if (password_len == -1) password_len = static_cast<int>(strnlen(password, INT32_MAX));

    struct berval cred = {0, nullptr};
    if (const int rc = create_response(user, password, password_len, realm->realm, host.get(), cnonce, 1,
                                       challenge, &cred);
        rc != 0)
        return rc;
    MallocPtr<char> cred_owner(cred.bv_val);
    if (const int rc = ldap_sasl_bind(ld, nullptr, kMechanism, &cred, nullptr, nullptr, &msgid); rc != 0)
        return rc;
    BervalPtr scred;
    bool waited = false;
    const int rc = await_bind(ld, msgid, scred, &waited);
    if (!waited) {
        *ctxp = ctx.release();  // left in place: the caller may try again or cancel
        return rc;
    }
    if (rc != 0) return rc;
    return validate_response(user, password, password_len, realm->realm, host.get(), cnonce, 1, challenge,
                             scred.get());
}

DIREXT_API int getNonce(char *out) { return get_nonce(out); }
DIREXT_API void ConvertHex(const unsigned char *digest, char *out) { convert_hex(digest, out); }
DIREXT_API void DigestCalcHA1(const char *algorithm, const char *user, const char *realm,
                              const char *password, int password_len, const char *nonce,
                              const char *cnonce, char *out)
{
    calc_ha1(algorithm, user, realm, password, password_len, nonce, cnonce, out);
}
DIREXT_API void DigestCalcResponse(const char *ha1, const char *nonce, const char *nc, const char *cnonce,
                                   const char *qop, const char *method, const char *digest_uri,
                                   int include_method, char *out)
{
    calc_response(ha1, nonce, nc, cnonce, qop, method, digest_uri, include_method, out);
}
DIREXT_API int createDigestResponse(const char *user, const char *password, int password_len,
                                    const char *realm, const char *host, const char *cnonce, int nc,
                                    const DigestChallengeRecord *challenge, struct berval *cred)
{
    return create_response(user, password, password_len, realm, host, cnonce, nc, challenge, cred);
}
DIREXT_API int validateServerResponse(const char *user, const char *password, int password_len,
                                      const char *realm, const char *host, const char *cnonce, int nc,
                                      const DigestChallengeRecord *challenge,
                                      const struct berval *server_cred)
{
    return validate_response(user, password, password_len, realm, host, cnonce, nc, challenge,
                             server_cred);
}

DIREXT_API int ldap_bind_tovar_s(LDAP *, const char *, const char *) { return LDAP_NOT_SUPPORTED; }
DIREXT_API int ldap_bind_tovar_ex_s(LDAP *, const char *, const char *, LDAPControl **, LDAPControl **)
{
    return LDAP_NOT_SUPPORTED;
}
DIREXT_API int ldap_tovar_get_errcode(LDAP *, int *) { return LDAP_NOT_SUPPORTED; }

}  // extern "C"
