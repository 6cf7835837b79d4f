// Every export that allocates through the library's seams, swept allocation
// by allocation (the rows, rows_*.cc), and every other export named below
// with the reason it has no such allocation.  The completeness check fails
// for an export in neither list, so that a new export cannot slip past.
#include <filesystem>
#include <fstream>
#include <set>

#include "paths.h"
#include "sweep.h"

namespace allocsweep {
namespace {

// The exports without a seam allocation of their own, by area, each with its
// reason:
//   frees         releases what the library allocated
//   no-alloc      allocates nothing
//   data          an exported variable
//   liblber-only  allocates only inside liblber calls (out of reach; see
//                 core/alloc.h), or libldap's
//   openssl-only  allocates only inside OpenSSL calls
//   unsupported   answers LDAP_NOT_SUPPORTED and does nothing else
struct Excluded {
    const char *name;
    const char *reason;
};

const Excluded kExcluded[] = {
    // controls: libldap builds these controls (ldap_control_create), and
    // the URL searches are libldap's searches.
    {"ldap_create_proxyauth_control", "liblber-only"},
    {"ldap_create_reference_control", "liblber-only"},
    {"ldap_url_search", "liblber-only"},
    {"ldap_url_search_s", "liblber-only"},
    {"ldap_url_search_st", "liblber-only"},
    // events: the registration requests encode with liblber's own element.
    {"parseSkulkEventData", "no-alloc"},  // a kind without a record
    {"ldap_event_free", "frees"},
    {"freeStringSequence", "frees"},
    {"freeReferralList", "frees"},
    {"freeConnectionData", "frees"},
    // extops: operations that send no value and read none.
    {"ldapx_memfree", "frees"},
    {"ldap_refresh_server", "no-alloc"},
    {"wrapper_ldap_trigger_backlink", "no-alloc"},
    {"wrapper_ldap_trigger_janitor", "no-alloc"},
    {"wrapper_ldap_trigger_skulker", "no-alloc"},
    {"wrapper_ldap_trigger_schema_sync", "no-alloc"},
    {"wrapper_ldap_trigger_partition_purge", "no-alloc"},
    // lburp: the encoders write into the caller's element; the end response
    // has no value to read.
    {"LBURPEncodeAdd", "liblber-only"},
    {"LBURPEncodeDelete", "liblber-only"},
    {"LBURPEncodeMod", "liblber-only"},
    {"LBURPEncodeModRDN", "liblber-only"},
    {"ldap_parse_lburp_end_response", "liblber-only"},
    // sasl
    {"MD5Init", "no-alloc"},
    {"MD5Update", "no-alloc"},
    {"MD5Final", "no-alloc"},
    {"MD5", "no-alloc"},
    {"XRAND_add", "no-alloc"},
    {"XRAND_seed", "no-alloc"},
    {"XRAND_bytes", "no-alloc"},
    {"XRAND_pseudo_bytes", "no-alloc"},
    {"XRAND_status", "no-alloc"},
    {"XRAND_poll", "no-alloc"},
    {"XRAND_cleanup", "no-alloc"},
    {"freeParsedDirectives", "frees"},
    {"isValidTokenChar", "no-alloc"},
    {"isWhiteSpace", "no-alloc"},
    {"freeDigestChallenge", "frees"},
    {"handleMaxbuf", "no-alloc"},
    {"handleStale", "no-alloc"},
    {"getNonce", "no-alloc"},
    {"ConvertHex", "no-alloc"},
    {"DigestCalcHA1", "no-alloc"},
    {"DigestCalcResponse", "no-alloc"},
    {"ldap_bind_tovar_s", "unsupported"},
    {"ldap_bind_tovar_ex_s", "unsupported"},
    {"ldap_tovar_get_errcode", "unsupported"},
    // schema
    {"ldap_schema_free", "frees"},
    {"ldap_schema_get_by_name", "no-alloc"},
    {"ldap_schema_get_by_index", "no-alloc"},
    {"ldap_schema_get_count", "no-alloc"},
    {"ldap_attributetype_free", "frees"},
    {"ldap_objectclass_free", "frees"},
    {"ldap_syntax_free", "frees"},
    {"ldap_matchingrule_free", "frees"},
    {"ldap_matchingruleuse_free", "frees"},
    {"ldap_nameform_free", "frees"},
    {"ldap_ditcontentrule_free", "frees"},
    {"ldap_ditstructurerule_free", "frees"},
    {"ldap_syntax2name", "no-alloc"},
    {"ldap_matchingrule2name", "no-alloc"},
    {"ldap_attributetype2name", "no-alloc"},
    {"ldap_objectclass2name", "no-alloc"},
    {"ldap_scherr2str", "no-alloc"},
    // tls
    {"g_Sync", "data"},
    {"g_SSLReg", "data"},
    {"g_CryptCtx", "data"},
    {"g_pCertCallback", "data"},
    {"g_Locks", "data"},
    {"randbuf", "data"},
    {"g_pSockets", "data"},
    {"g_MaxSockets", "data"},
    {"g_pCertAlertCB", "data"},
    {"ldapssl_client_deinit", "frees"},
    {"ldapssl_init", "liblber-only"},
    {"ldapssl_set_verify_mode", "no-alloc"},
    {"ldapssl_get_verify_mode", "no-alloc"},
    {"ldapssl_set_verify_callback", "no-alloc"},
    {"verify_callback", "no-alloc"},
    {"LockInit", "no-alloc"},
    {"LockCallback", "no-alloc"},
    {"LockCleanUp", "no-alloc"},
    {"CRYPTO_thread_setup", "no-alloc"},
    {"CRYPTO_thread_cleanup", "no-alloc"},
    {"CRYPTO_w_lock", "no-alloc"},
    {"CRYPTO_w_unlock", "no-alloc"},
    {"ldapssl_add_trusted_cert", "openssl-only"},
    {"ldapssl_set_client_cert", "openssl-only"},
    {"ldapssl_set_client_private_key", "openssl-only"},
    {"ldapssl_get_cert", "openssl-only"},
    {"ldapssl_get_cert_attribute", "openssl-only"},
    {"add_cert", "openssl-only"},
    {"file_to_BIO", "openssl-only"},
    {"pkcs12_BIO_to_clear_BIO", "openssl-only"},
    {"dump_certs_keys_buf", "openssl-only"},
    {"dump_certs_keys_p12", "openssl-only"},
    {"dump_certs_pkeys_bags", "openssl-only"},
    {"dump_certs_pkeys_bag", "openssl-only"},
    {"print_attribs", "openssl-only"},
    {"hex_prin", "openssl-only"},
    {"dump_cert_text", "openssl-only"},
};

const std::vector<const std::vector<Row> *> kAreas = {&controls_rows(), &events_rows(), &extops_rows(),
                                                     &lburp_rows(),    &sasl_rows(),   &schema_rows(),
                                                     &tls_rows()};

// The names of lib/*/symbols.txt.
std::set<std::string> exports()
{
    std::set<std::string> names;
    for (const auto &dir : std::filesystem::directory_iterator(testsupport::source_path("lib"))) {
        std::ifstream symbols(dir.path() / "symbols.txt");
        for (std::string line; std::getline(symbols, line);)
            if (!line.empty() && line[0] != '#') names.insert(line);
    }
    return names;
}

class AllocSweep : public ::testing::Test {
protected:
    static void SetUpTestSuite() { env_ = new Env; }
    static void TearDownTestSuite()
    {
        delete env_;
        env_ = nullptr;
    }
    static Env *env_;
};
Env *AllocSweep::env_ = nullptr;

TEST_F(AllocSweep, Controls) { sweep(*env_, controls_rows()); }
TEST_F(AllocSweep, Events) { sweep(*env_, events_rows()); }
TEST_F(AllocSweep, Extops) { sweep(*env_, extops_rows()); }
TEST_F(AllocSweep, Lburp) { sweep(*env_, lburp_rows()); }
TEST_F(AllocSweep, Sasl) { sweep(*env_, sasl_rows()); }
TEST_F(AllocSweep, Schema) { sweep(*env_, schema_rows()); }
TEST_F(AllocSweep, Tls) { sweep(*env_, tls_rows()); }

TEST(AllocSweepCompleteness, EveryExportHasARowOrAReason)
{
    const std::set<std::string> all = exports();
    ASSERT_EQ(all.size(), 225u) << "lib/*/symbols.txt not found, or the exports changed: update this count";
    static const std::set<std::string> reasons = {"frees",        "no-alloc",     "data",
                                                  "liblber-only", "openssl-only", "unsupported"};
    std::set<std::string> covered;
    for (const auto *rows : kAreas)
        for (const Row &row : *rows) EXPECT_TRUE(covered.insert(row.name).second) << row.name << ": two rows";
    std::set<std::string> listed;
    for (const Excluded &e : kExcluded) {
        EXPECT_TRUE(listed.insert(e.name).second) << e.name << ": listed twice";
        EXPECT_TRUE(reasons.count(e.reason)) << e.name << ": unknown reason " << e.reason;
        EXPECT_FALSE(covered.count(e.name)) << e.name << ": both swept and excluded";
    }
    for (const std::string &name : all)
        EXPECT_TRUE(covered.count(name) || listed.count(name))
            << name << " is exported but neither swept nor excluded with a reason";
    for (const std::string &name : covered) EXPECT_TRUE(all.count(name)) << name << ": not an export";
    for (const std::string &name : listed) EXPECT_TRUE(all.count(name)) << name << ": not an export";
}

}  // namespace
}  // namespace allocsweep
