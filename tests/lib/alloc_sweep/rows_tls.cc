// TLS: the context set-up's seed buffer is the library's only allocation of
// its own there (the rest is OpenSSL's).  Without it the seeding from the
// random device is skipped, and OpenSSL seeds itself: not a failure.
#include "sweep.h"

namespace allocsweep {
namespace {

int client_init(Env &)
{
    const int rc = ldapssl_client_init(nullptr, nullptr);
    EXPECT_EQ(randbuf, nullptr);
    ldapssl_client_deinit();
    return rc;
}

}  // namespace

const std::vector<Row> &tls_rows()
{
    static const std::vector<Row> rows = {
        {"ldapssl_client_init", LDAP_SUCCESS, client_init},
    };
    return rows;
}

}  // namespace allocsweep
