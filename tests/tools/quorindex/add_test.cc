// quorindex add: the checking phases and the stored form.
#include <gmock/gmock.h>

#include "quorindex_fixture.h"

namespace quorindex_test {
namespace {

using ::testing::Contains;

struct AddSuccess {
    const char *what;
    std::vector<std::string> args;
    std::string modify_detail;
};
void PrintTo(const AddSuccess &c, std::ostream *os) { print_case(c, os); }

class AddStores : public QuorindexTest, public ::testing::WithParamInterface<AddSuccess> {};

TEST_P(AddStores, OneModifyThenTheLimberTrigger)
{
    auto r = run("add", GetParam().args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "\nIndex(es) addition successful.\n");
    EXPECT_EQ(operations(), (std::vector<std::string>{"bind", "search", "modify", "extended", "unbind"}));
    auto modify = requests_of("modify").at(0);
    EXPECT_EQ(modify.dn, kServerDn);
    EXPECT_EQ(modify.detail, GetParam().modify_detail);
    auto trigger = requests_of("extended").at(0);
    EXPECT_EQ(trigger.oid, kLimberOid);
    EXPECT_FALSE(trigger.has_value);
}

INSTANTIATE_TEST_SUITE_P(
    Add, AddStores,
    ::testing::Values(
        AddSuccess{"value_rule_any_case", {"idx1;cn;value"}, "add indexDefinition: 0$idx1$2$0$0$1$cn"},
        AddSuccess{"fields_are_trimmed", {"idx1; cn ;VALUE"}, "add indexDefinition: 0$idx1$2$0$0$1$cn"},
        AddSuccess{"tabs_are_trimmed", {"\t idx1\t;\tcn ; Value\t"}, "add indexDefinition: 0$idx1$2$0$0$1$cn"},
        AddSuccess{"ancestor_id_goes_first", {"-a", "idx1;cn;VALUE"},
                   "add indexDefinition: 0$idx1$2$0$0$1$ancestorID$cn"},
        AddSuccess{"several_in_operand_order", {"p;mail;PRESENCE", "s;sn;substring", "v;a$b$c$d$e;VALUE"},
                   "add indexDefinition: 0$p$2$1$0$1$mail | 0$s$2$2$0$1$sn | 0$v$2$0$0$1$a$b$c$d$e"},
        AddSuccess{"five_attributes_with_ancestor_id", {"-a", "v;a$b$c$d$e;VALUE"},
                   "add indexDefinition: 0$v$2$0$0$1$ancestorID$a$b$c$d$e"},
        AddSuccess{"longest_list_with_ancestor_id", {"-a", "v;" + std::string(1012, 'a') + ";VALUE"},
                   "add indexDefinition: 0$v$2$0$0$1$ancestorID$" + std::string(1012, 'a')}),
    [](const auto &info) { return std::string(info.param.what); });

TEST_F(QuorindexTest, AddedIndexComesOnlineAfterTheLimberProcess)
{
    ASSERT_EQ(run("add", {"idx1;cn;VALUE"}).status, 0);
    EXPECT_THAT(index_values(), Contains("0$idx1$0$0$0$1$cn"));
}

struct AddRefusal {
    const char *what;
    std::vector<std::string> args;
    std::string err;        // everything on standard error
    bool searched = false;  // refused only after reading the stored values
};
void PrintTo(const AddRefusal &c, std::ostream *os) { print_case(c, os); }

class AddRefuses : public QuorindexTest, public ::testing::WithParamInterface<AddRefusal> {};

TEST_P(AddRefuses, WithItsReportAndNoChange)
{
    auto before = index_values();
    auto r = run("add", GetParam().args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\n");
    EXPECT_EQ(r.err, GetParam().err + "Index(es) addition failed.\n");
    if (GetParam().searched)
        EXPECT_EQ(operations(), (std::vector<std::string>{"bind", "search", "unbind"}));
    else
        EXPECT_EQ(operations(), (std::vector<std::string>{"bind", "unbind"}));
    EXPECT_EQ(index_values(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Add, AddRefuses,
    ::testing::Values(
        AddRefusal{"shape", {"a;b", "ok;cn;VALUE", "x;y;z;w", ""},
                   "Invalid index definition(s): a;b, x;y;z;w, ,\b. "},
        AddRefusal{"invalid_rule_and_empty_fields", {"i1;cn;EXACT", "i2; \t;VALUE", ";cn;value", "i3;cn; "},
                   "Invalid index definition(s):  i1;cn;EXACT, i2; \t;VALUE, ;cn;value, i3;cn; ,\b. "},
        AddRefusal{"six_value_attributes", {"ok;cn;VALUE", "i1;a$b$c$d$e$f;VALUE"},
                   "Invalid index definition(s): VALUE indexes can have maximum 5 attributes: "
                   "i1;a$b$c$d$e$f;VALUE,\b. "},
        AddRefusal{"six_value_attributes_with_ancestor_id", {"-a", "i1;a$b$c$d$e$f;VALUE"},
                   "Invalid index definition(s): VALUE indexes can have maximum 5 attributes: "
                   "i1;a$b$c$d$e$f;VALUE,\b. "},
        AddRefusal{"two_substring_attributes_then_bad_rule", {"i1;a$b;SUBSTRING", "i2;a;bogus", "i3;a$b;presence"},
                   "Invalid index definition(s): PRESENCE and SUBSTRING indexes can have only one attribute: "
                   "i1;a$b;SUBSTRING, i2;a;bogus, i3;a$b;presence,\b. "},
        AddRefusal{"presence_with_ancestor_id", {"-a", "i1;cn;VALUE", "i2;cn;presence", "i3;x;bogus"},
                   "Invalid index definition(s): Cannot create PRESENCE type Index with -a option.  "},
        AddRefusal{"substring_with_ancestor_id", {"-a", "i2;cn;Substring", "i3;x;bogus"},
                   "Invalid index definition(s): Cannot create SUBSTRING type Index with -a option. "},
        AddRefusal{"attribute_list_too_long_for_ancestor_id", {"-a", "v;" + std::string(1013, 'a') + ";VALUE"},
                   "Invalid index definition(s):  v;" + std::string(1013, 'a') + ";VALUE,\b. "},
        AddRefusal{"ancestor_id_named_by_the_user", {"i1;cn$ancestorID;VALUE"},
                   "Invalid index definition(s): i1;cn$ancestorID;VALUE: the attribute name ancestorID is "
                   "reserved. "},
        AddRefusal{"ancestor_id_first_without_flag", {"i1;ANCESTORID;VALUE"},
                   "Invalid index definition(s): i1;ANCESTORID;VALUE: the attribute name ancestorID is "
                   "reserved. "},
        AddRefusal{"ancestor_id_given_with_flag", {"-a", "i1;ancestorID$cn;VALUE"},
                   "Invalid index definition(s): i1;ancestorID$cn;VALUE: the attribute name ancestorID is "
                   "reserved. "},
        AddRefusal{"ancestor_id_after_other_reports", {"bad;cn;EXACT", "i1;cn$ancestorid;bogus"},
                   "Invalid index definition(s):  bad;cn;EXACT, i1;cn$ancestorid;bogus,\b. "
                   "Invalid index definition(s): i1;cn$ancestorid;bogus: the attribute name ancestorID is "
                   "reserved. "},
        AddRefusal{"duplicate_names", {"a;cn;VALUE", "A;sn;VALUE"}, "Duplicate index name(s): A,\b. "},
        AddRefusal{"name_given_three_times", {"x;cn;VALUE", "X;cn;VALUE", "x;cn;VALUE"},
                   "Duplicate index name(s): X, x, x,\b. "},
        AddRefusal{"names_that_exist", {"new;cn;VALUE", "CN;cn;VALUE", "surname;sn;PRESENCE"},
                   "Index name(s) CN, surname,\b already exists. ", true}),
    [](const auto &info) { return std::string(info.param.what); });

}  // namespace
}  // namespace quorindex_test
