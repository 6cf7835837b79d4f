#include "progress_bar.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace dirext_cli::bulk {
namespace {

constexpr int kBarWidth = 16;
constexpr auto kRedrawEvery = std::chrono::milliseconds(500);

// 0:42, 12:05, 1:02:03
std::string clock_text(long seconds)
{
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", seconds / 60, seconds % 60);
    return text;
}

}  // namespace

std::string grouped(long n)
{
    std::string digits = std::to_string(n < 0 ? -n : n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return n < 0 ? "-" + out : out;
}

ProgressBar::ProgressBar(long done) : started_(Clock::now()), baseline_(done)
{
    winsize ws{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0) width_ = ws.ws_col;
}

std::string ProgressBar::line(long done, long total) const
{
    const int percent = total > 0 ? int(done * 100 / total) : 100;
    const int filled = percent * kBarWidth / 100;
    std::string text = "[" + std::string(size_t(filled), '#') + std::string(size_t(kBarWidth - filled), '-') + "] ";
    char figure[8];
    std::snprintf(figure, sizeof figure, "%3d%%", percent);
    text += std::string(figure) + " " + grouped(done) + "/" + grouped(total) + " records";
    const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    if (done > baseline_ && seconds > 0) {
        const double rate = double(done - baseline_) / seconds;
        const long left = long(double(total - done) / rate + 0.5);
        text += "  " + grouped(long(rate + 0.5)) + " records/s  " + clock_text(left) + " left";
    }
    return text;
}

void ProgressBar::draw(std::string text)
{
    if (width_ > 1 && text.size() >= size_t(width_)) text.resize(size_t(width_ - 1));  // never wrap
    std::fprintf(stderr, "\r%s\033[K", text.c_str());
    std::fflush(stderr);
    shown_ = std::move(text);
    visible_ = true;
}

void ProgressBar::show(long done, long total)
{
    const int percent = total > 0 ? int(done * 100 / total) : 100;
    if (percent == percent_ && Clock::now() - drawn_at_ < kRedrawEvery) return;
    percent_ = percent;
    drawn_at_ = Clock::now();
    draw(line(done, total));
}

void ProgressBar::hide()
{
    if (!visible_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    visible_ = false;
}

void ProgressBar::restore()
{
    if (!visible_ && !shown_.empty()) draw(shown_);
}

}  // namespace dirext_cli::bulk
