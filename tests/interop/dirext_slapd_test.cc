// dirext against a real directory server (a private slapd): the DIGEST-MD5
// bind through the library, then `partitions`, whose root DSE search slapd
// answers and whose entry count, one of the directory's own extended
// operations, it refuses with protocolError.
#include "paths.h"
#include "process.h"
#include "slapd.h"

namespace {

using testsupport::Slapd;

// Named in lower case so that `ctest -R interop` selects it.
class dirext_interop : public testsupport::SlapdTest {
    testsupport::SlapdOptions slapd_options() const override { return {.sasl_realm = "LAB.EXAMPLE"}; }
};

TEST_F(dirext_interop, DigestMd5BindThenTheFailingOperationsCodeIsTheExitStatus)
{
    for (const std::string password : {Slapd::kUserPassword, "wrong"}) {
        auto r = testsupport::run({testsupport::build_path("tools/dirext/dirext"), "partitions", "-H", slapd().url(),
                                   "-Y", "DIGEST-MD5", "-U", Slapd::kUserName, "-w", password});
        bool right = password == Slapd::kUserPassword;
        EXPECT_EQ(r.status, right ? 2 : 255);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, right ? "dirext: partitions: o=lab: Protocol error (2)\n"
                                 "\tadditional info: unsupported extended operation\n"
                               : "DIGEST-MD5 bind: Invalid credentials (49): wrong user or password, or the "
                                 "server could not prove its identity\n");
    }
}

}  // namespace
