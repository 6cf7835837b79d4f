// RFC 2831's response and rspauth computed independently of the library, with
// OpenSSL's MD5, for checking the library's values.
#pragma once

#include <openssl/evp.h>

#include <string>

#include "bytes.h"

namespace sasltest {

inline std::string md5_raw(const std::string &m)
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(m.data(), m.size(), out, &n, EVP_md5(), nullptr);
    return std::string(reinterpret_cast<char *>(out), n);
}

using wire::hex;

struct DigestInputs {
    std::string user, realm, password, nonce, cnonce, digest_uri;
    std::string nc = "00000001";
    std::string qop = "auth";
};

// algorithm md5-sess, no authzid.  method "AUTHENTICATE" for the response,
// "" for rspauth.
inline std::string rfc2831(const DigestInputs &in, bool for_rspauth)
{
    const std::string ha1 =
        hex(md5_raw(md5_raw(in.user + ":" + in.realm + ":" + in.password) + ":" + in.nonce + ":" + in.cnonce));
    const std::string a2 = (for_rspauth ? "" : "AUTHENTICATE") + std::string(":") + in.digest_uri;
    const std::string ha2 = hex(md5_raw(a2));
    return hex(md5_raw(ha1 + ":" + in.nonce + ":" + in.nc + ":" + in.cnonce + ":" + in.qop + ":" + ha2));
}

}  // namespace sasltest
