// Getting the bind password without it ever showing in the process list.
#pragma once

#include <optional>
#include <string>

namespace toolkit {

// Overwrites a password argument in argv with as many '*' as it had.
void mask_argument(char *arg);

// The whole content of a -y file, as OpenLDAP's tools read it; nullopt when
// it cannot be read, with the reason in *error.
std::optional<std::string> read_password_file(const std::string &path, std::string *error);

// Prompts with "Enter LDAP Password: " on the terminal; nullopt when no
// terminal could be read.  The C library's buffer is wiped.
std::optional<std::string> prompt_password();

// Wipes and drops a held password.
void forget_password(std::optional<std::string> &password);

}  // namespace toolkit
