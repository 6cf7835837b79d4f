// What a load writes.  Standard output, one line each, flushed:
//   refused: line 12 "cn=x,ou=bulk,o=lab": Already exists (68)[: message]
//   loaded 9,990 of 10,000 records: 9,985 applied, 5 refused, 10 not sent
// (the summary adds "N unanswered" before "not sent" and "N skipped" at the
// end when there are any), or with --json
//   {"type":"refused","record":17,"line":12,"dn":...,"result_code":68,"result":...,"message":...}
//   {"type":"summary","outcome":"complete","total":...,"skipped":...,"applied":...,"refused":...,
//    "unanswered":...,"not_sent":...,"resume_skip":...}
// Standard error: what ended the load early and where to resume, and the
// progress bar when standard error is a terminal.
#pragma once

#include <memory>
#include <string_view>

#include "load_protocol.h"
#include "progress_bar.h"

namespace dirext_cli::bulk {

class LoadReport : public LoadListener {
public:
    LoadReport(bool json, bool progress_bar) : json_(json), progress_bar_(progress_bar) {}

    void refused(long number, const LdifRecord &record, int code, std::string_view message) override;
    void progressed(const LoadTally &tally) override;
    // The problem, the way to resume, and the summary.
    void finish(const LoadResult &result);

private:

    bool json_;
    bool progress_bar_;
    std::unique_ptr<ProgressBar> bar_;  // from the first progress on
};

}  // namespace dirext_cli::bulk
