// A progress bar on standard error (a terminal), redrawn in place:
//   [########--------]  50% 50,000/100,000 records  12,345 records/s  0:04 left
// The rate counts the records done since the bar was made; the time left
// follows from it.  Both show once there is something to count.
#pragma once

#include <chrono>
#include <string>

namespace dirext_cli::bulk {

class ProgressBar {
public:
    // done: the records already done when the run begins.
    explicit ProgressBar(long done);
    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;

    // Draws when the percentage has changed or half a second has passed.
    void show(long done, long total);
    // Erases it before other output to the terminal (restore() brings it
    // back), and at the end.
    void hide();
    void restore();

private:
    std::string line(long done, long total) const;
    void draw(std::string text);

    using Clock = std::chrono::steady_clock;
    Clock::time_point started_, drawn_at_;
    long baseline_;
    int percent_ = -1;
    int width_ = 0;  // the terminal's columns; 0: unknown
    std::string shown_;
    bool visible_ = false;
};

// A count as the text output writes it: 12,345.
std::string grouped(long n);

}  // namespace dirext_cli::bulk
