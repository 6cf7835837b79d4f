// The index commands: each reads the server object's indexDefinition values,
// checks the request against them, changes them with one modify request and
// then asks the server to run its limber process.
//
// Each returns 0 on success, 1 when the tool's own checks refuse the request
// (nothing is changed on the server), or the result code of the LDAP
// operation that failed.
#pragma once

#include <ldap.h>

#include <string>
#include <vector>

namespace quorindex {

enum class IndexState { suspend, resume };

int list_indexes(LDAP *ld, const char *server_dn, const std::vector<std::string> &names);
int add_indexes(LDAP *ld, const std::vector<std::string> &definitions, const char *server_dn, bool ancestor);
int delete_indexes(LDAP *ld, const std::vector<std::string> &names, const char *server_dn);
int set_index_state(LDAP *ld, const std::vector<std::string> &names, const char *server_dn, IndexState state);

// Sends the request that starts the server's limber background process.
int trigger_limber(LDAP *ld);

}  // namespace quorindex
