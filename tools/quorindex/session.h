// Opening, securing and binding the LDAP session of one quorindex run.
#pragma once

#include <dirext/tls.h>

#include "options.h"

namespace quorindex {

class Session {
public:
    ~Session();  // unbinds and releases the TLS set-up, if any

    // Each step returns 0 or the run's result (its message already written).
    int open(const Settings &s);
    int apply_time_limit(int seconds);
    int start_tls(const Settings &s);
    int bind(const Settings &s);

    LDAP *handle() const { return ld_; }

private:
    int open_tls(const Settings &s);

    LDAP *ld_ = nullptr;
    bool tls_initialised_ = false;
};

}  // namespace quorindex
