// Every allocation fails in turn during one representative call of each
// family: liblber's and libldap's as well as the library's own.
//
// liblber's replaceable memory functions (LBER_OPT_MEMORY_FNS) serve only
// allocations made with a memory context, which clients never pass, so they
// cannot fail a client's allocations.  This program replaces liblber's
// allocation entry points instead (libldap and liblber itself call them
// through the dynamic linker), forwarding to the real ones, and fails the
// library's own allocations through its allocation seam.  Only allocations on
// the calling thread count, so that the simulator's threads in the same
// process are never hit.
//
// libldap asserts when an allocation fails while it sends a request
// (request.c, ldap_send_server_request), so the exchange itself runs with
// failures suspended: ldap_extended_operation_s is replaced here too.  What
// fails is everything the call allocates around it: encoder, request value,
// decoder, decoded outputs, copies, and the release of the response.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "ber_bytes.h"
#include "core/alloc.h"
#include "extops_fixture.h"

using namespace extops_test;

namespace {

thread_local bool t_armed = false;
thread_local long t_count = 0;
thread_local long t_fail_at = 0;

bool fail_now()
{
    return t_armed && ++t_count == t_fail_at;
}

bool seam_hook(std::size_t) { return fail_now(); }

template <typename Fn>
Fn next(const char *name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

void *ber_memalloc_x(ber_len_t size, void *ctx)
{
    static auto real = next<void *(*)(ber_len_t, void *)>("ber_memalloc_x");
    return fail_now() ? nullptr : real(size, ctx);
}

void *ber_memcalloc_x(ber_len_t n, ber_len_t size, void *ctx)
{
    static auto real = next<void *(*)(ber_len_t, ber_len_t, void *)>("ber_memcalloc_x");
    return fail_now() ? nullptr : real(n, size, ctx);
}

void *ber_memrealloc_x(void *p, ber_len_t size, void *ctx)
{
    static auto real = next<void *(*)(void *, ber_len_t, void *)>("ber_memrealloc_x");
    return fail_now() ? nullptr : real(p, size, ctx);
}

int ldap_extended_operation_s(LDAP *ld, const char *oid, struct berval *value, LDAPControl **server,
                              LDAPControl **client, char **response_oid, struct berval **response_value)
{
    using Fn = int (*)(LDAP *, const char *, struct berval *, LDAPControl **, LDAPControl **, char **,
                       struct berval **);
    static Fn real = next<Fn>("ldap_extended_operation_s");
    bool armed = t_armed;
    t_armed = false;
    int rc = real(ld, oid, value, server, client, response_oid, response_value);
    t_armed = armed;
    return rc;
}

}  // extern "C"

namespace {

class extopsAllocationFailureTest : public ExtopsTest {
protected:
    void scripted(int arc, std::optional<std::string> value)
    {
        dirsim::Reply r;
        r.response_name = oid(arc + 1);
        r.response_value = std::move(value);
        answer(oid(arc), r);
    }

    // Counts the allocations during `call`, then fails each in turn.
    // Returns how often each result came.
    std::map<int, int> fail_each(const std::function<int(LDAP *)> &call)
    {
        std::map<int, int> results;
        long total = 0;
        {
            Session ld = open();
            dirext::set_alloc_fail_hook(seam_hook);
            t_count = 0;
            t_fail_at = 0;
            t_armed = true;
            int rc = call(ld.get());
            t_armed = false;
            total = t_count;
            EXPECT_EQ(rc, LDAP_SUCCESS);
        }
        EXPECT_GT(total, 0);
        for (long nth = 1; nth <= total; ++nth) {
            Session ld = open();
            t_count = 0;
            t_fail_at = nth;
            t_armed = true;
            int rc = call(ld.get());
            t_armed = false;
            ++results[rc];
        }
        dirext::set_alloc_fail_hook(nullptr);
        return results;
    }

    // The results a failing allocation may give: no memory, or the
    // operation's own code for an encoder or decoder that gives up (liblber
    // does not tell a failed allocation from bad input).
    void expect_only(const std::map<int, int> &results, std::set<int> allowed)
    {
        for (auto [rc, times] : results) EXPECT_TRUE(allowed.count(rc)) << "result " << rc << " (" << times << "x)";
        EXPECT_TRUE(results.count(LDAP_NO_MEMORY));
    }
};

const std::set<int> kEncoding = {LDAP_NO_MEMORY, LDAP_ENCODING_ERROR};
const std::set<int> kDecoding = {LDAP_NO_MEMORY, LDAP_DECODING_ERROR};
const std::set<int> kBoth = {LDAP_NO_MEMORY, LDAP_ENCODING_ERROR, LDAP_DECODING_ERROR};

TEST_F(extopsAllocationFailureTest, PartitionEntryCount)
{
    scripted(13, ber("i", 42));
    expect_only(fail_each([](LDAP *ld) {
                    int n = 0;
                    return ldap_partition_entry_count(ld, "o=lab", &n);
                }),
                kEncoding);
}

TEST_F(extopsAllocationFailureTest, ReplicaList)
{
    char a[] = "cn=a", b[] = "cn=b";
    char *names[] = {a, b, nullptr};
    scripted(19, ber("{v}", names));
    expect_only(fail_each([](LDAP *ld) {
                    char **list = nullptr;
                    int rc = ldap_list_replicas(ld, "o=lab", &list);
                    ldap_value_free(list);
                    return rc;
                }),
                kEncoding);
}

TEST_F(extopsAllocationFailureTest, ReplicaInformation)
{
    scripted(17, ber("iiiiisii", 1, 2, 3, 4, 5, "o=lab", 6, 7));
    expect_only(fail_each([](LDAP *ld) {
                    ReplicaInfo info;
                    return ldap_get_replica_info(ld, "o=lab", kServer1, &info);
                }),
                kEncoding);
}

TEST_F(extopsAllocationFailureTest, ReplicationFilterBothWays)
{
    expect_only(fail_each([](LDAP *ld) { return ldap_set_replication_filter(ld, kServer1, "person$cn$sn$$$"); }),
                kEncoding);
    expect_only(fail_each([](LDAP *ld) {
                    char *text = nullptr;
                    int rc = ldap_get_replication_filter(ld, kServer1, &text);
                    ldapx_memfree(text);
                    return rc;
                }),
                kBoth);
}

TEST_F(extopsAllocationFailureTest, PrivilegesAndConversion)
{
    scripted(103, ber("{{i}[{i}{i}]}", 2, 3, 4));
    expect_only(fail_each([](LDAP *ld) {
                    char cn[] = "cn", sn[] = "sn";
                    char *names[] = {cn, sn, nullptr};
                    int slots[2];
                    return ldap_get_effective_privileges_list(ld, kAdmin, kAdmin, names, slots);
                }),
                kEncoding);
    scripted(1, ber("s", "cn=x"));
    expect_only(fail_each([](LDAP *ld) {
                    const uint16_t name[] = {'x', 0};
                    char *dn = nullptr;
                    int rc = ldap_quor_to_ldap(ld, name, &dn);
                    ldapx_memfree(dn);
                    return rc;
                }),
                kEncoding);
}

TEST_F(extopsAllocationFailureTest, BackupAndRestore)
{
    expect_only(fail_each([](LDAP *ld) {
                    char *state = nullptr, *data = nullptr, *chunks = nullptr;
                    int size = 0;
                    int rc = ldap_backup_object(ld, "cn=Alice,ou=people,o=lab", nullptr, &state, &data, &chunks,
                                                &size);
                    for (char *p : {state, data, chunks}) ldapx_memfree(p);
                    return rc;
                }),
                kBoth);
    expect_only(fail_each([](LDAP *ld) {
                    return ldap_restore_object(ld, "cn=Carol,ou=people,o=lab", "x",
                                               "dn: cn=Carol,ou=people,o=lab\ncn: Carol\n", "1;40;", 40);
                }),
                kEncoding);
}

TEST_F(extopsAllocationFailureTest, Triggers)
{
    expect_only(fail_each([](LDAP *ld) { return wrapper_ldap_trigger_limber(ld, kServer1); }), kEncoding);
}

}  // namespace

