// What kind of certificate file a -e key file is.
#pragma once

namespace toolkit {

// 1 (PEM) or 2 (DER), the type codes of ldapssl_add_trusted_cert, for a file
// whose first certificate reads in that form; -1 otherwise.
int key_file_type(const char *path);

}  // namespace toolkit
