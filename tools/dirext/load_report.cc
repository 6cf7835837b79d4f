#include "load_report.h"

#include <cstdio>
#include <string>

#include "json_line.h"

namespace dirext_cli::bulk {
namespace {

const char *outcome_name(LoadOutcome outcome)
{
    switch (outcome) {
    case LoadOutcome::complete: return "complete";
    case LoadOutcome::start_refused: return "start_refused";
    case LoadOutcome::connection_lost: return "connection_lost";
    case LoadOutcome::no_answer: return "no_answer";
    case LoadOutcome::failed: return "failed";
    case LoadOutcome::stopped: return "stopped";
    }
    return "failed";
}

std::string summary_text(const LoadTally &t)
{
    std::string text = "loaded " + grouped(t.confirmed()) + " of " + grouped(t.total) +
                       (t.total == 1 ? " record: " : " records: ") + grouped(t.applied) + " applied, " +
                       grouped(t.refused) + " refused, ";
    if (t.unanswered) text += grouped(t.unanswered) + " unanswered, ";
    text += grouped(t.not_sent) + " not sent";
    if (t.skipped) text += ", " + grouped(t.skipped) + " skipped";
    return text;
}

long long count(long n) { return n; }  // the JSON fields' integer type

void print_summary_json(const LoadResult &r)
{
    const LoadTally &t = r.tally;
    JsonLine()
        .field("type", "summary")
        .field("outcome", outcome_name(r.outcome))
        .field("total", count(t.total))
        .field("skipped", count(t.skipped))
        .field("applied", count(t.applied))
        .field("refused", count(t.refused))
        .field("unanswered", count(t.unanswered))
        .field("not_sent", count(t.not_sent))
        .field("resume_skip", count(t.resume_skip()))
        .print();
}

// Where a load that ended early can go on, and which records may have been
// applied without a word from the server.
void resume_hint(const LoadResult &r)
{
    const long done = r.tally.resume_skip();
    if (!r.last_confirmed) {
        std::fputs("dirext: load: no record is confirmed: load the file again from the start\n", stderr);
    } else {
        std::fprintf(stderr,
                     "dirext: load: the last confirmed record is record %ld (line %ld, \"%s\"): "
                     "--skip %ld resumes after it\n",
                     done, r.last_confirmed->line, r.last_confirmed->dn.c_str(), done);
    }
    if (r.tally.unanswered == 1)
        std::fprintf(stderr, "dirext: load: record %ld was sent without an answer: the server may have applied it\n",
                     done + 1);
    else if (r.tally.unanswered > 1)
        std::fprintf(stderr,
                     "dirext: load: records %ld to %ld were sent without an answer: the server may have applied them\n",
                     done + 1, done + r.tally.unanswered);
}

}  // namespace

void LoadReport::refused(long number, const LdifRecord &record, int code, std::string_view message)
{
    if (bar_) bar_->hide();
    if (json_) {
        JsonLine()
            .field("type", "refused")
            .field("record", count(number))
            .field("line", count(record.line))
            .field("dn", record.dn)
            .field("result_code", code)
            .field("result", ldap_err2string(code))
            .field("message", message)
            .print();
    } else {
        std::string line = "refused: line " + std::to_string(record.line) + " \"" + record.dn +
                           "\": " + ldap_err2string(code) + " (" + std::to_string(code) + ")";
        if (!message.empty()) line += ": " + std::string(message);
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    if (bar_) bar_->restore();
}

void LoadReport::progressed(const LoadTally &tally)
{
    if (!progress_bar_) return;
    if (!bar_) bar_ = std::make_unique<ProgressBar>(tally.skipped);
    bar_->show(tally.skipped + tally.confirmed(), tally.total);
}

void LoadReport::finish(const LoadResult &result)
{
    if (bar_) bar_->hide();
    if (!result.problem.empty()) std::fprintf(stderr, "dirext: load: %s\n", result.problem.c_str());
    if (result.outcome != LoadOutcome::complete && result.outcome != LoadOutcome::start_refused)
        resume_hint(result);
    if (json_) {
        print_summary_json(result);
    } else {
        std::printf("%s\n", summary_text(result.tally).c_str());
        std::fflush(stdout);
    }
}

}  // namespace dirext_cli::bulk
