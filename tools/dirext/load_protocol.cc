#include "load_protocol.h"

#include <algorithm>

#include "ldap_handles.h"
#include "load_operations.h"
#include "session.h"
#include "stop_signal.h"

namespace dirext_cli::bulk {
namespace {

constexpr int kDefaultMaxOperations = 100;  // when the server names no limit
constexpr size_t kAhead = 1;                // update requests on their way beyond the one being answered

// A failure list as the library hands it over.
struct FailedList {
    LBURPFailedOperation *items = nullptr;
    int count = 0;
    FailedList() = default;
    FailedList(const FailedList &) = delete;
    FailedList &operator=(const FailedList &) = delete;
    ~FailedList()
    {
        for (int i = 0; i < count; ++i) ldap_memfree(items[i].diagnosticMessage);
        ldapx_memfree(items);
    }
};

// "Already exists (68)", and ": message" when there is one.
std::string describe(int code, const char *message)
{
    std::string text = std::string(ldap_err2string(code)) + " (" + std::to_string(code) + ")";
    if (message && *message) text += std::string(": ") + message;
    return text;
}

// A result code other than success is the server's refusal, also in an
// answer without the response name (what a server that does not know the
// operation sends).
bool refused_by_server(int rc, int code)
{
    return code != LDAP_SUCCESS && (rc == LDAP_SUCCESS || rc == LDAP_NOT_SUPPORTED);
}

}  // namespace

BulkLoad::BulkLoad(LDAP *ld, LdifRecords &source, const LoadTally &tally, std::optional<RecordMark> last_skipped,
                   int time_limit, LoadListener &listener)
    : ld_(ld), source_(source), sent_(tally.skipped), time_limit_(time_limit), listener_(listener)
{
    result_.tally.total = tally.total;
    result_.tally.skipped = tally.skipped;
    result_.last_confirmed = std::move(last_skipped);
}

LoadResult BulkLoad::run()
{
    listener_.progressed(result_.tally);
    if (start()) {
        for (bool going = true; going;) {
            const bool send = sent_ < result_.tally.total && in_flight_.size() <= kAhead;
            if (!send && in_flight_.empty()) break;
            if (stop_requested()) going = fail(LoadOutcome::stopped, 1, "stopped by a signal");
            else going = send ? send_next() : collect();
        }
        if (result_.outcome == LoadOutcome::complete) finish();
    }
    for (const InFlight &r : in_flight_) result_.tally.unanswered += long(r.records.size());
    result_.tally.not_sent = result_.tally.total - sent_;
    return result_;
}

bool BulkLoad::fail(LoadOutcome outcome, int status, std::string problem)
{
    result_.outcome = outcome;
    result_.status = status;
    result_.problem = std::move(problem);
    return false;
}

bool BulkLoad::request_failed(const char *what, int rc)
{
    if (connection_lost(rc)) return fail(LoadOutcome::connection_lost, 1, "connection lost: " + describe(rc, nullptr));
    return fail(LoadOutcome::failed, exit_status(rc), std::string(what) + ": " + describe(rc, nullptr));
}

// The answer to msgid, or null when it does not come (the reason noted).
LDAPMessage *BulkLoad::answer(int msgid, const char *what)
{
    LDAPMessage *res = nullptr;
    const int got = ldap_result(ld_, msgid, LDAP_MSG_ALL, nullptr, &res);  // -l applies through LDAP_OPT_TIMEOUT
    if (got > 0) return res;
    ldap_msgfree(res);
    if (stop_requested()) {
        fail(LoadOutcome::stopped, 1, "stopped by a signal");
    } else if (got == 0) {
        fail(LoadOutcome::no_answer, 1,
             std::string("no answer to the ") + what + " within " + std::to_string(time_limit_) + " s");
    } else {
        int rc = LDAP_SERVER_DOWN;
        ldap_get_option(ld_, LDAP_OPT_RESULT_CODE, &rc);
        request_failed(what, rc);
    }
    return nullptr;
}

bool BulkLoad::start()
{
    int msgid = -1;
    if (int rc = ldap_lburp_start_request(ld_, &msgid)) return request_failed("start request", rc);
    LDAPMessage *res = answer(msgid, "start request");
    if (!res) return false;
    int code = LDAP_SUCCESS, max = 0;
    char *message = nullptr;
    const int rc = ldap_parse_lburp_start_response(ld_, res, &code, &message, &max, 1);
    toolkit::LdapString owned(message);
    if (refused_by_server(rc, code))
        return fail(LoadOutcome::start_refused, exit_status(code), "start request refused: " + describe(code, message));
    if (rc != LDAP_SUCCESS) return request_failed("start response", rc);
    max_operations_ = max > 0 ? max : kDefaultMaxOperations;
    return true;
}

bool BulkLoad::send_next()
{
    const size_t count = size_t(std::min<long>(result_.tally.total - sent_, max_operations_));
    InFlight request{-1, sent_, {}};
    request.records.reserve(count);
    while (request.records.size() < count) {
        auto record = source_.next();
        if (!record) return fail(LoadOutcome::failed, 1, "the input ended before its last record");  // read twice
        request.records.push_back(std::move(*record));
    }
    UpdateBatch batch(request.records);
    if (int rc = ldap_lburp_operation_request(ld_, ++sequence_, batch.operations(), &request.msgid))
        return request_failed("update request", rc);
    sent_ += long(request.records.size());
    in_flight_.push_back(std::move(request));
    return true;
}

bool BulkLoad::collect()
{
    LDAPMessage *res = answer(in_flight_.front().msgid, "update request");
    if (!res) return false;
    int code = LDAP_SUCCESS;
    char *message = nullptr;
    FailedList failed;
    const int rc = ldap_parse_lburp_operation_response(ld_, res, &code, &message, &failed.count, &failed.items, 1);
    toolkit::LdapString owned(message);
    if (rc != LDAP_SUCCESS && !refused_by_server(rc, code))
        return request_failed("update response", rc);  // its records stay unanswered
    const InFlight request = std::move(in_flight_.front());
    in_flight_.pop_front();
    settle(request, code, message ? message : "", failed.items, failed.count);
    listener_.progressed(result_.tally);
    return true;
}

// Counts an answered request's records.  A listed operation has its own
// result; the others share the request's (success, unless the server
// refused the request as a whole).  Numbers outside the request are ignored.
void BulkLoad::settle(const InFlight &request, int code, std::string_view message,
                      const LBURPFailedOperation *failed, int failed_count)
{
    const size_t count = request.records.size();
    std::vector<const LBURPFailedOperation *> own(count, nullptr);
    for (int i = 0; i < failed_count; ++i) {
        const int n = failed[i].operationNumber;
        if (n >= 1 && size_t(n) <= count && !own[n - 1]) own[n - 1] = &failed[i];
    }
    for (size_t i = 0; i < count; ++i) {
        const int result = own[i] ? own[i]->resultCode : code;
        std::string_view text = message;
        if (own[i]) text = own[i]->diagnosticMessage ? own[i]->diagnosticMessage : "";
        if (result == LDAP_SUCCESS) {
            ++result_.tally.applied;
            continue;
        }
        ++result_.tally.refused;
        if (!result_.first_refused_code) result_.first_refused_code = result;
        listener_.refused(request.first + long(i) + 1, request.records[i], result, text);
    }
    const LdifRecord &last = request.records.back();
    result_.last_confirmed = RecordMark{request.first + long(count), last.line, last.dn};
}

void BulkLoad::finish()
{
    int msgid = -1;
    if (int rc = ldap_lburp_end_request(ld_, sequence_ + 1, &msgid)) {
        request_failed("end request", rc);
        return;
    }
    LDAPMessage *res = answer(msgid, "end request");
    if (!res) return;
    int code = LDAP_SUCCESS;
    char *message = nullptr;
    const int rc = ldap_parse_lburp_end_response(ld_, res, &code, &message, 1);
    toolkit::LdapString owned(message);
    if (refused_by_server(rc, code)) {
        result_.status = exit_status(code);
        result_.problem = "end request refused: " + describe(code, message);
    } else if (rc != LDAP_SUCCESS) {
        request_failed("end response", rc);
    }
}

}  // namespace dirext_cli::bulk
