#include "password.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace toolkit {

void mask_argument(char *arg)
{
    for (char *p = arg; *p; ++p) *p = '*';
}

std::optional<std::string> read_password_file(const std::string &path, std::string *error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = std::strerror(errno);
        return std::nullopt;
    }
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        *error = "could not be read";
        return std::nullopt;
    }
    return content;
}

std::optional<std::string> prompt_password()
{
    char *typed = getpass("Enter LDAP Password: ");
    if (!typed) return std::nullopt;
    std::string password(typed);
    std::memset(typed, 0, std::strlen(typed));
    return password;
}

void forget_password(std::optional<std::string> &password)
{
    if (!password) return;
    std::memset(password->data(), 0, password->size());
    password.reset();
}

}  // namespace toolkit
