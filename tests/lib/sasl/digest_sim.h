// The directory simulator set up for DIGEST-MD5 binds: users alice (password
// "wonderland") and we"ird (password p\ss), and the entry that holds the
// simulator's DIGEST-MD5 settings.
#pragma once

#include "sim_fixture.h"

#include <memory>
#include <string>

namespace sasltest {

inline const char kSimTree[] = R"(version: 1

dn: o=lab
objectClass: organization
o: lab

dn: ou=people,o=lab
objectClass: organizationalUnit
ou: people

dn: uid=alice,ou=people,o=lab
objectClass: inetOrgPerson
uid: alice
cn: Alice
sn: Liddell
userPassword: wonderland

dn: cn=Weird,ou=people,o=lab
objectClass: inetOrgPerson
uid: we"ird
cn: Weird
sn: Name
userPassword: p\ss
)";

// Attributes saslRealm, saslQop and saslFault (see sim/src/handlers/digest_md5.cc).
inline const char kSimSettings[] = "cn=DIGEST-MD5,cn=SASL,cn=config";

inline std::unique_ptr<dirsim::Server> start_sim() { return testsupport::start_sim({.ldif_text = kSimTree}); }

}  // namespace sasltest
