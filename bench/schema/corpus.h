// A large subschema generated in memory: at least 10,000 descriptions of all
// eight kinds, shaped like the descriptions real servers publish.
#pragma once

#include <string>
#include <vector>

namespace schemabench {

struct Description {
    int kind;
    std::string text;
    std::string oid;   // the key (a rule ID for structure rules)
    std::string name;  // the first name
};

inline std::vector<Description> generate()
{
    std::vector<Description> out;
    const std::string arc = "1.3.6.1.4.1.32473.";
    const char *syntaxes[] = {"1.3.6.1.4.1.1466.115.121.1.15{256}", "1.3.6.1.4.1.1466.115.121.1.26",
                              "1.3.6.1.4.1.1466.115.121.1.27", "1.3.6.1.4.1.1466.115.121.1.12",
                              "1.3.6.1.4.1.1466.115.121.1.24"};
    for (int i = 0; i < 6000; ++i) {
        std::string n = "benchAttribute" + std::to_string(i), oid = arc + "1." + std::to_string(i);
        std::string t = "( " + oid + " NAME " + (i % 3 == 0 ? "( '" + n + "' 'alias" + std::to_string(i) + "' )" : "'" + n + "'") +
                        " DESC 'Generated attribute number " + std::to_string(i) + " for the benchmark'" +
                        (i % 4 == 0 ? " SUP name" : " EQUALITY caseIgnoreMatch SUBSTR caseIgnoreSubstringsMatch") +
                        " SYNTAX " + syntaxes[i % 5] + (i % 7 == 0 ? " SINGLE-VALUE" : "") +
                        (i % 11 == 0 ? " NO-USER-MODIFICATION USAGE directoryOperation" : "") +
                        " X-ORIGIN 'benchmark' )";
        out.push_back({0, t, oid, n});
    }
    for (int i = 0; i < 2000; ++i) {
        std::string n = "benchClass" + std::to_string(i), oid = arc + "2." + std::to_string(i);
        std::string t = "( " + oid + " NAME '" + n + "' DESC 'Generated class' SUP " +
                        (i % 2 ? "top" : "( top $ person )") + (i % 3 ? " STRUCTURAL" : " AUXILIARY") +
                        " MUST ( cn $ benchAttribute" + std::to_string(i) + " ) MAY ( description $ seeAlso $ "
                        "benchAttribute" + std::to_string(i + 1) + " $ benchAttribute" + std::to_string(i + 2) + " ) )";
        out.push_back({1, t, oid, n});
    }
    for (int i = 0; i < 400; ++i) {
        std::string oid = arc + "3." + std::to_string(i);
        out.push_back({2, "( " + oid + " DESC 'Generated syntax " + std::to_string(i) + "' X-NOT-HUMAN-READABLE 'TRUE' )",
                       oid, ""});
    }
    for (int i = 0; i < 500; ++i) {
        std::string n = "benchMatch" + std::to_string(i), oid = arc + "4." + std::to_string(i);
        out.push_back({3, "( " + oid + " NAME '" + n + "' SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )", oid, n});
    }
    for (int i = 0; i < 400; ++i) {
        std::string n = "benchMatch" + std::to_string(i), oid = arc + "4." + std::to_string(i);
        out.push_back({4, "( " + oid + " NAME '" + n + "' APPLIES ( cn $ sn $ benchAttribute" + std::to_string(i) + " ) )",
                       oid, n});
    }
    for (int i = 0; i < 300; ++i) {
        std::string n = "benchForm" + std::to_string(i), oid = arc + "5." + std::to_string(i);
        out.push_back({5, "( " + oid + " NAME '" + n + "' OC benchClass" + std::to_string(i) + " MUST cn MAY ( ou $ o ) )",
                       oid, n});
    }
    for (int i = 0; i < 300; ++i) {
        std::string n = "benchContent" + std::to_string(i), oid = arc + "2." + std::to_string(i);
        out.push_back({6, "( " + oid + " NAME '" + n + "' AUX ( benchClass1 $ benchClass2 ) MAY description NOT seeAlso )",
                       oid, n});
    }
    for (int i = 0; i < 300; ++i) {
        std::string n = "benchRule" + std::to_string(i), id = std::to_string(i + 1);
        out.push_back({7, "( " + id + " NAME '" + n + "' FORM benchForm" + std::to_string(i) + " )", id, n});
    }
    return out;
}

}  // namespace schemabench
