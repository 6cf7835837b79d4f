// An in-process directory simulator and libldap sessions bound to it, for the
// LBURP and controls tests.
#pragma once

#include <dirext.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dirsim/server.h"
#include "ldap_handles.h"

namespace simsession {

inline const char kAdminDn[] = "cn=admin,o=lab";
inline const char kAdminPassword[] = "secret";

inline const char kTree[] = R"(dn: o=lab
objectClass: organization
o: lab

dn: cn=admin,o=lab
objectClass: person
cn: admin
sn: Admin
userPassword: secret

dn: ou=people,o=lab
objectClass: organizationalUnit
ou: people

dn: cn=Alice Smith,ou=people,o=lab
objectClass: person
cn: Alice Smith
sn: Smith
uid: alice

dn: cn=Bob Jones,ou=people,o=lab
objectClass: person
cn: Bob Jones
sn: Jones

dn: ou=bulk,o=lab
objectClass: organizationalUnit
ou: bulk
)";

using ldaptest::Ldap;
using ldaptest::Message;

// A session to url, bound as dn (anonymous for none); null on failure.
inline Ldap open(const std::string &url, const char *dn = kAdminDn, const char *password = kAdminPassword)
{
    LDAP *raw = nullptr;
    if (ldap_initialize(&raw, url.c_str()) != LDAP_SUCCESS) return nullptr;
    Ldap ld(raw);
    int version = LDAP_VERSION3;
    timeval timeout{10, 0};
    ldap_set_option(raw, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(raw, LDAP_OPT_NETWORK_TIMEOUT, &timeout);
    ldap_set_option(raw, LDAP_OPT_TIMEOUT, &timeout);
    ldap_set_option(raw, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    if (dn) {
        berval cred{std::strlen(password), const_cast<char *>(password)};
        if (ldap_sasl_bind_s(raw, dn, LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, nullptr) != LDAP_SUCCESS)
            return nullptr;
    }
    return ld;
}

inline int session_code(LDAP *ld)
{
    int rc = 12345;
    ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &rc);
    return rc;
}

// The whole answer to msgid, waiting at most 10 s.
inline Message result(LDAP *ld, int msgid)
{
    LDAPMessage *res = nullptr;
    timeval timeout{10, 0};
    if (ldap_result(ld, msgid, LDAP_MSG_ALL, &timeout, &res) <= 0) return nullptr;
    return Message(res);
}

inline std::string hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

class SimTest : public ::testing::Test {
protected:
    virtual dirsim::Options options() const
    {
        dirsim::Options o;
        o.ldif_text = kTree;
        return o;
    }

    void SetUp() override
    {
        server_ = std::make_unique<dirsim::Server>(options());
        ASSERT_TRUE(server_->start());
        ld_ = open(server_->url());
        ASSERT_TRUE(ld_);
        server_->clear_requests();
    }

    // The requests logged so far with this op (and OID, when given).
    std::vector<dirsim::Request> logged(const std::string &op, const std::string &oid = "") const
    {
        std::vector<dirsim::Request> out;
        for (const auto &r : server_->requests())
            if (r.op == op && (oid.empty() || r.oid == oid)) out.push_back(r);
        return out;
    }

    LDAP *ld() { return ld_.get(); }

    std::unique_ptr<dirsim::Server> server_;
    Ldap ld_;
};

}  // namespace simsession
