// DIGEST-MD5 messages (RFC 2831 section 2.1): a scanner that turns a message
// into name/value directives, a walker for comma-separated token lists, and
// the validation of a server challenge into a DigestChallengeRecord.
#include "sasl/digest.h"

#include "core/alloc.h"

#include <climits>
#include <cstdint>
#include <cstring>

namespace dirext::sasl {
namespace {

// Scanner states; the numbers are the ones callers see in the scanner record.
constexpr int kStart = 1;
constexpr int kAfterComma = 2;
constexpr int kInName = 3;
constexpr int kAfterName = 4;
constexpr int kBeforeValue = 5;
constexpr int kAfterValue = 6;
constexpr int kInQuoted = 7;
constexpr int kInToken = 8;

// Token-list walker states (kAfterValue doubles as "after a token").
constexpr int kWalkFailed = 0;
constexpr int kWalkStart = 9;
constexpr int kWalkAfterComma = 10;
constexpr int kWalkInToken = 11;

bool name_is(const DigestDirective *d, const char *name) { return std::strcmp(d->name, name) == 0; }

bool token_is(const char *token, int len, const char *word)
{
    return std::strlen(word) == static_cast<std::size_t>(len) && std::memcmp(token, word, len) == 0;
}

struct TokenBit {
    const char *token;
    unsigned bit;
};

// Walks the value of d as a token list and sets each token's bit in bits
// (other for tokens not in the table).  The last token (1031) ends the walk
// normally; a walker failure is returned as it is.
template <std::size_t N>
int token_bits(const DigestDirective *d, const TokenBit (&table)[N], unsigned other, unsigned &bits)
{
    DigestTokenCursor *raw = nullptr;
    int rc;
    for (;;) {
        const char *token = nullptr;
        int token_len = 0;
        rc = parse_token_list(d->value, static_cast<std::size_t>(d->length), &token, &token_len, &raw,
                              nullptr);
        if ((rc != 0 && rc != DIGEST_LAST_TOKEN) || !token) break;
        unsigned bit = other;
        for (const TokenBit &t : table)
            if (token_is(token, token_len, t.token)) bit = t.bit;
        bits |= bit;
        if (rc == DIGEST_LAST_TOKEN) {
            rc = 0;
            break;
        }
    }
    std::free(raw);
    return rc;
}

int copy_value(const DigestDirective *d, char **out)
{
    *out = dup_bytes(d->value, static_cast<std::size_t>(d->length));
    return *out ? 0 : LDAP_NO_MEMORY;
}

}  // namespace

bool is_white_space(int c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

bool is_token_char(int c)
{
    if (c < 0 || c > 255) return false;
    if (c <= 32 || c == 127) return false;
    return std::strchr("%(),:;<=>?@[\\]{}", c) == nullptr;
}

void free_directives(DigestDirective *list)
{
    while (list) {
        DigestDirective *next = list->next;
        std::free(list->name);
        std::free(list->value);
        std::free(list);
        list = next;
    }
}

int add_directive(DigestScanner *sc)
{
    if (!sc || !sc->start || !sc->pos || sc->pos < sc->start) return LDAP_PARAM_ERROR;
    MallocPtr<DigestDirective> node(static_cast<DigestDirective *>(alloc_zeroed(1, sizeof(DigestDirective))));
    if (!node) return LDAP_NO_MEMORY;
    node->name = dup_bytes(sc->start, static_cast<std::size_t>(sc->pos - sc->start));
    if (!node->name) return LDAP_NO_MEMORY;
    if (sc->last)
        sc->last->next = node.get();
    else
        sc->first = node.get();
    sc->last = node.release();
    return 0;
}

int add_value(DigestScanner *sc, int unescape)
{
    if (!sc || !sc->last || !sc->start || !sc->pos || sc->pos < sc->start) return LDAP_PARAM_ERROR;
    const std::size_t span = static_cast<std::size_t>(sc->pos - sc->start);
    char *value = static_cast<char *>(alloc(span + 1));
    if (!value) return LDAP_NO_MEMORY;
    std::size_t n = 0;
    for (std::size_t i = 0; i < span; ++i) {
        if (unescape && sc->start[i] == '\\') {
            if (++i == span) break;  // a lone trailing backslash escapes nothing
        }
        value[n++] = sc->start[i];
    }
    value[n] = '\0';
    DigestDirective *d = sc->last;
    std::free(d->value);
    d->value = value;
    d->length = static_cast<int>(n);
    d->kind = sc->state == kInQuoted ? DIGEST_VALUE_QUOTED : DIGEST_VALUE_TOKEN;
    return 0;
}

int parse_directives(const char *data, std::size_t len, DigestDirective **list, int *error_pos)
{
    if (error_pos) *error_pos = -1;
    if (!list) return LDAP_PARAM_ERROR;
    *list = nullptr;
    if ((!data && len) || len > static_cast<std::size_t>(INT_MAX)) return LDAP_PARAM_ERROR;
    if (!data) data = "";

    DigestScanner sc{};
    sc.data = data;
    sc.state = kStart;
    bool escaped = false;
    DirectivesPtr owner;  // frees what was built on every failure
    auto fail = [&](int code, std::size_t at) {
        owner.reset(sc.first);
        if (error_pos && at != SIZE_MAX) *error_pos = static_cast<int>(at);
        return code;
    };

    for (std::size_t i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        sc.pos = data + i;
        switch (sc.state) {
        case kStart:
        case kAfterComma:
            if (is_white_space(c)) break;
            if (!is_token_char(c)) return fail(DIGEST_ERR_NAME_CHAR, i);
            sc.start = sc.pos;
            sc.state = kInName;
            break;
        case kInName:
            if (is_token_char(c)) break;
            if (add_directive(&sc) != 0) return fail(DIGEST_ERR_SCAN_NOMEM, SIZE_MAX);
            if (is_white_space(c))
                sc.state = kAfterName;
            else if (c == '=')
                sc.state = kBeforeValue;
            else
                return fail(DIGEST_ERR_NAME_CHAR, i);
            break;
        case kAfterName:
            if (is_white_space(c)) break;
            if (c != '=') return fail(DIGEST_ERR_EXPECT_EQUALS, i);
            sc.state = kBeforeValue;
            break;
        case kBeforeValue:
            if (is_white_space(c)) break;
            if (c == '"') {  // also a token character, so it is tested first
                sc.start = sc.pos + 1;
                sc.state = kInQuoted;
                escaped = false;
            } else if (is_token_char(c)) {
                sc.start = sc.pos;
                sc.state = kInToken;
            } else {
                return fail(DIGEST_ERR_VALUE_START, i);
            }
            break;
        case kInQuoted:
            if (c == '\\') {
                escaped = true;
                ++i;  // the next byte is taken literally, even a double quote
            } else if (c == '"') {
                if (add_value(&sc, escaped) != 0) return fail(DIGEST_ERR_SCAN_NOMEM, SIZE_MAX);
                sc.state = kAfterValue;
            }
            break;
        case kInToken:
            if (is_token_char(c)) break;
            if (add_value(&sc, 0) != 0) return fail(DIGEST_ERR_SCAN_NOMEM, SIZE_MAX);
            if (is_white_space(c))
                sc.state = kAfterValue;
            else if (c == ',')
                sc.state = kAfterComma;
            else
                return fail(DIGEST_ERR_TOKEN_END, i);
            break;
        case kAfterValue:
            if (is_white_space(c)) break;
            if (c != ',') return fail(DIGEST_ERR_EXPECT_COMMA, i);
            sc.state = kAfterComma;
            break;
        }
    }

    sc.pos = data + len;
    switch (sc.state) {
    case kAfterComma:
        return fail(DIGEST_ERR_TRAILING_COMMA, SIZE_MAX);
    case kInName:
    case kAfterName:
    case kBeforeValue:
        return fail(DIGEST_ERR_END_IN_NAME, SIZE_MAX);
    case kInQuoted:
        return fail(DIGEST_ERR_END_IN_QUOTE, SIZE_MAX);
    case kInToken:
        if (add_value(&sc, 0) != 0) return fail(DIGEST_ERR_SCAN_NOMEM, SIZE_MAX);
        break;
    default:
        break;
    }
    *list = sc.first;
    return 0;
}

int parse_token_list(const char *str, std::size_t len, const char **token, int *token_len,
                     DigestTokenCursor **cursor, int *error_pos)
{
    if (error_pos) *error_pos = -1;
    if (!token || !token_len || !cursor) return LDAP_PARAM_ERROR;
    *token = nullptr;
    *token_len = 0;
    if (!*cursor) {
        if ((!str && len) || len > static_cast<std::size_t>(INT_MAX)) return LDAP_PARAM_ERROR;
        auto *c = static_cast<DigestTokenCursor *>(alloc(sizeof(DigestTokenCursor)));
        if (!c) return LDAP_NO_MEMORY;
        c->str = str ? str : "";
        c->pos = c->start = c->str;
        c->end = c->str + len;
        c->state = kWalkStart;
        c->result = 0;
        *cursor = c;
    }
    DigestTokenCursor *c = *cursor;
    auto finish = [&](int rc) { return c->result = rc; };
    auto fail = [&](int rc, bool at_pos) {
        if (error_pos && at_pos) *error_pos = static_cast<int>(c->pos - c->str);
        c->state = kWalkFailed;
        return finish(rc);
    };
    auto emit = [&](const char *stop) {
        *token = c->start;
        *token_len = static_cast<int>(stop - c->start);
    };

    if (c->state == kWalkFailed) return c->result;
    for (; c->pos < c->end; ++c->pos) {
        const unsigned char ch = static_cast<unsigned char>(*c->pos);
        switch (c->state) {
        case kWalkStart:
        case kWalkAfterComma:
            if (is_white_space(ch)) break;
            if (!is_token_char(ch)) return fail(DIGEST_ERR_TOKEN_LIST, true);
            c->start = c->pos;
            c->state = kWalkInToken;
            break;
        case kWalkInToken:
            if (is_token_char(ch)) break;
            if (!is_white_space(ch) && ch != ',') return fail(DIGEST_ERR_TOKEN_LIST, true);
            emit(c->pos);
            c->state = ch == ',' ? kWalkAfterComma : kAfterValue;
            ++c->pos;
            return finish(0);
        case kAfterValue:
            if (is_white_space(ch)) break;
            if (ch != ',') return fail(DIGEST_ERR_EXPECT_COMMA, true);
            c->state = kWalkAfterComma;
            break;
        }
    }
    switch (c->state) {
    case kWalkInToken:
        emit(c->end);
        c->state = kAfterValue;  // a further call reports the end of the list
        return finish(DIGEST_LAST_TOKEN);
    case kWalkAfterComma:
        return fail(DIGEST_ERR_TRAILING_COMMA, false);
    default:
        return finish(0);
    }
}

int handle_realm(const DigestDirective *d, DigestChallengeRecord *c)
{
    if (!d || !c || !d->value) return LDAP_PARAM_ERROR;
    MallocPtr<DigestRealm> node(static_cast<DigestRealm *>(alloc(sizeof(DigestRealm))));
    if (!node) return LDAP_NO_MEMORY;
    if (copy_value(d, &node->realm) != 0) return LDAP_NO_MEMORY;
    node->next = c->realms;
    c->realms = node.release();
    ++c->realm_count;
    return 0;
}

int handle_nonce(const DigestDirective *d, DigestChallengeRecord *c)
{
    if (!d || !c || !d->value) return LDAP_PARAM_ERROR;
    if (c->nonce) return DIGEST_ERR_NONCE_TWICE;
    return copy_value(d, &c->nonce);
}

int handle_qop(const DigestDirective *d, DigestChallengeRecord *c)
{
    static const TokenBit kQops[] = {
        {"auth", DIGEST_QOP_AUTH}, {"auth-int", DIGEST_QOP_AUTH_INT}, {"auth-conf", DIGEST_QOP_AUTH_CONF}};
    if (!d || !c || !d->value) return LDAP_PARAM_ERROR;
    if (c->qop) return DIGEST_ERR_DUPLICATE;
    return token_bits(d, kQops, DIGEST_QOP_OTHER, c->qop);
}

int handle_maxbuf(const DigestDirective *d, DigestChallengeRecord *c)
{
    if (!d || !c || !d->value) return LDAP_PARAM_ERROR;
    if (c->maxbuf != -1) return DIGEST_ERR_DUPLICATE;
    // Digits only; a value beyond int is not a usable buffer size either.
    long long v = 0;
    if (d->length == 0) return DIGEST_ERR_MAXBUF;
    for (int i = 0; i < d->length; ++i) {
        const char ch = d->value[i];
        if (ch < '0' || ch > '9') return DIGEST_ERR_MAXBUF;
        v = v * 10 + (ch - '0');
        if (v > INT_MAX) return DIGEST_ERR_MAXBUF;
    }
    if (v == 0) return DIGEST_ERR_MAXBUF;
    c->maxbuf = static_cast<int>(v);
    return 0;
}

int handle_charset(const DigestDirective *d, DigestChallengeRecord *c)
{
    if (!d || !c || !d->value) return LDAP_PARAM_ERROR;
    if (c->charset) return DIGEST_ERR_DUPLICATE;
    if (copy_value(d, &c->charset) != 0) return LDAP_NO_MEMORY;
    return token_is(d->value, d->length, "utf-8") ? 0 : DIGEST_ERR_CHARSET;
}

int handle_algorithm(const DigestDirective *d, DigestChallengeRecord *c)
{
    if (!d || !c || !d->value) return LDAP_PARAM_ERROR;
    if (c->algorithm) return DIGEST_ERR_DUPLICATE;
    if (copy_value(d, &c->algorithm) != 0) return LDAP_NO_MEMORY;
    return token_is(d->value, d->length, "md5-sess") ? 0 : DIGEST_ERR_ALGORITHM;
}

int handle_cipher(const DigestDirective *d, DigestChallengeRecord *c)
{
    static const TokenBit kCiphers[] = {{"3des", DIGEST_CIPHER_3DES},
                                        {"des", DIGEST_CIPHER_DES},
                                        {"rc4-40", DIGEST_CIPHER_RC4_40},
                                        {"rc4", DIGEST_CIPHER_RC4},
                                        {"rc4-56", DIGEST_CIPHER_RC4_56}};
    if (!d || !c || !d->value) return LDAP_PARAM_ERROR;
    if (c->cipher) return DIGEST_ERR_DUPLICATE;
    return token_bits(d, kCiphers, DIGEST_CIPHER_OTHER, c->cipher);
}

int handle_stale(const DigestDirective *d, DigestChallengeRecord *c)
{
    if (!d || !c || !d->value) return LDAP_PARAM_ERROR;
    if (c->stale) return DIGEST_ERR_DUPLICATE;
    if (!token_is(d->value, d->length, "true")) return DIGEST_ERR_STALE_VALUE;
    c->stale = 1;
    return 0;
}

void free_challenge(DigestChallengeRecord *c)
{
    if (!c) return;
    for (DigestRealm *r = c->realms; r;) {
        DigestRealm *next = r->next;
        std::free(r->realm);
        std::free(r);
        r = next;
    }
    std::free(c->nonce);
    std::free(c->charset);
    std::free(c->algorithm);
    std::free(c);
}

namespace {
// Scanner codes never leave the parser as such: out of memory is reported as
// such, a malformed message as a protocol error.
int scan_message(const struct berval *cred, DirectivesPtr &list)
{
    DigestDirective *raw = nullptr;
    const int rc = parse_directives(cred->bv_val, cred->bv_len, &raw, nullptr);
    list.reset(raw);
    if (rc == DIGEST_ERR_SCAN_NOMEM) return LDAP_NO_MEMORY;
    return rc == 0 ? 0 : LDAP_PROTOCOL_ERROR;
}

const struct {
    const char *name;
    int (*handle)(const DigestDirective *, DigestChallengeRecord *);
} kHandlers[] = {
    {"realm", handle_realm},   {"nonce", handle_nonce},         {"qop", handle_qop},
    {"maxbuf", handle_maxbuf}, {"charset", handle_charset},     {"algorithm", handle_algorithm},
    {"cipher", handle_cipher}, {"stale", handle_stale},
};
}  // namespace

int get_challenge(const struct berval *cred, DigestChallengeRecord **challenge, int allow_stale)
{
    if (!challenge) return LDAP_PARAM_ERROR;
    *challenge = nullptr;
    if (!cred) return LDAP_PROTOCOL_ERROR;  // "in progress" without a challenge
    DirectivesPtr list;
    if (const int rc = scan_message(cred, list); rc != 0) return rc;

    ChallengePtr record(static_cast<DigestChallengeRecord *>(alloc_zeroed(1, sizeof(DigestChallengeRecord))));
    if (!record) return LDAP_NO_MEMORY;
    record->maxbuf = -1;

    for (const DigestDirective *d = list.get(); d; d = d->next) {
        for (const auto &h : kHandlers) {
            if (!name_is(d, h.name)) continue;
            if (const int rc = h.handle(d, record.get()); rc != 0) return rc;
            break;
        }
    }
    if (record->maxbuf == -1) record->maxbuf = 65536;

    const unsigned known_ciphers = DIGEST_CIPHER_3DES | DIGEST_CIPHER_DES | DIGEST_CIPHER_RC4_40 |
                                   DIGEST_CIPHER_RC4 | DIGEST_CIPHER_RC4_56;
    if (!(record->qop & DIGEST_QOP_AUTH)) return DIGEST_ERR_NO_AUTH_QOP;
    if ((record->qop & DIGEST_QOP_AUTH_CONF) && !(record->cipher & known_ciphers))
        return DIGEST_ERR_NO_CIPHER;
    if (!record->nonce) return DIGEST_ERR_NO_NONCE;
    if (record->stale && !allow_stale) return DIGEST_ERR_STALE;
    if (!record->algorithm) return DIGEST_ERR_NO_ALGORITHM;
    *challenge = record.release();
    return 0;
}

int get_response_auth(const struct berval *cred, char **rspauth)
{
    if (!rspauth) return LDAP_PARAM_ERROR;
    *rspauth = nullptr;
    if (!cred) return 0;  // no server credentials at all: no value
    DirectivesPtr list;
    if (const int rc = scan_message(cred, list); rc != 0) return rc;
    for (const DigestDirective *d = list.get(); d; d = d->next) {
        if (name_is(d, "rspauth")) return copy_value(d, rspauth);
    }
    return 0;
}

}  // namespace dirext::sasl

// The exported names.
using namespace dirext::sasl;
extern "C" {

DIREXT_API int parseDirectiveList(const char *data, size_t len, DigestDirective **list, int *error_pos)
{
    return parse_directives(data, len, list, error_pos);
}
DIREXT_API void freeParsedDirectives(DigestDirective *list) { free_directives(list); }
DIREXT_API int addDirective(DigestScanner *scanner) { return add_directive(scanner); }
DIREXT_API int addValue(DigestScanner *scanner, int unescape) { return add_value(scanner, unescape); }
DIREXT_API int isValidTokenChar(int c) { return is_token_char(c) ? 1 : 0; }
DIREXT_API int isWhiteSpace(int c) { return is_white_space(c) ? 1 : 0; }
DIREXT_API int parseTokenList(const char *str, size_t len, const char **token, int *token_len,
                              DigestTokenCursor **cursor, int *error_pos)
{
    return parse_token_list(str, len, token, token_len, cursor, error_pos);
}
DIREXT_API int getDigestChallenge(const struct berval *cred, DigestChallengeRecord **challenge,
                                  int allow_stale)
{
    return get_challenge(cred, challenge, allow_stale);
}
DIREXT_API int getResponseAuth(const struct berval *cred, char **rspauth)
{
    return get_response_auth(cred, rspauth);
}
DIREXT_API void freeDigestChallenge(DigestChallengeRecord *challenge) { free_challenge(challenge); }
DIREXT_API int handleRealm(const DigestDirective *d, DigestChallengeRecord *c) { return handle_realm(d, c); }
DIREXT_API int handleNonce(const DigestDirective *d, DigestChallengeRecord *c) { return handle_nonce(d, c); }
DIREXT_API int handleQop(const DigestDirective *d, DigestChallengeRecord *c) { return handle_qop(d, c); }
DIREXT_API int handleMaxbuf(const DigestDirective *d, DigestChallengeRecord *c) { return handle_maxbuf(d, c); }
DIREXT_API int handleCharset(const DigestDirective *d, DigestChallengeRecord *c) { return handle_charset(d, c); }
DIREXT_API int handleAlgorithm(const DigestDirective *d, DigestChallengeRecord *c)
{
    return handle_algorithm(d, c);
}
DIREXT_API int handleCipher(const DigestDirective *d, DigestChallengeRecord *c) { return handle_cipher(d, c); }
DIREXT_API int handleStale(const DigestDirective *d, DigestChallengeRecord *c) { return handle_stale(d, c); }

}  // extern "C"
