// A server's challenge and final message over arbitrary bytes, and the
// response built from any challenge that passes.
#include <dirext.h>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    struct berval bv = {size, reinterpret_cast<char *>(const_cast<uint8_t *>(data))};
    char *rspauth = nullptr;
    if (getResponseAuth(&bv, &rspauth) == 0) std::free(rspauth);

    DigestChallengeRecord *challenge = nullptr;
    const int rc = getDigestChallenge(&bv, &challenge, size > 0 && (data[0] & 1));
    if (rc != 0) {
        if (challenge) std::abort();
        return 0;
    }
    if (!challenge->nonce || !(challenge->qop & DIGEST_QOP_AUTH) || challenge->maxbuf <= 0) std::abort();
    const char *realm = challenge->realms ? challenge->realms->realm : "";
    struct berval cred = {0, nullptr};
    if (createDigestResponse("user", "password", -1, realm, "host", "CNONCE", 1, challenge, &cred) == 0) {
        if (cred.bv_len >= 4096) std::abort();
        std::free(cred.bv_val);
    }
    validateServerResponse("user", "password", -1, realm, "host", "CNONCE", 1, challenge, &bv);
    freeDigestChallenge(challenge);
    return 0;
}
