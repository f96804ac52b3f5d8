#include "platform/clock.h"

#include <algorithm>
#include <cerrno>

namespace platform {

namespace {

long Offset_Seconds_At(int year, int month) {
    std::tm probe{};
    probe.tm_year = year - 1900;
    probe.tm_mon = month;
    probe.tm_mday = 1;
    probe.tm_hour = 12;
    probe.tm_isdst = -1;
    const std::time_t when = std::mktime(&probe);
    std::tm local{};
    if (when == static_cast<std::time_t>(-1) || localtime_r(&when, &local) == nullptr) return 0;
    return local.tm_gmtoff;
}

}  // namespace

int Standard_Bias_Minutes(int year) {
    tzset();
    const long standard = std::min(Offset_Seconds_At(year, 0), Offset_Seconds_At(year, 6));
    return static_cast<int>(-standard / 60);
}

int Standard_Bias_Minutes() {
    return Standard_Bias_Minutes(Local_Now().tm_year + 1900);
}

std::tm Local_Now() {
    // localtime_r need not read TZ itself; without this a changed zone may go unseen.
    tzset();
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

void Wait_For_Next_Second() {
    // The second as Local_Now sees it (time() may follow a coarser clock).
    const std::time_t second = std::time(nullptr);
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    // To the next whole second and a little past it, then in short steps
    // until time() has moved on too.
    timespec wait{0, now.tv_sec == second ? 1000000000L - now.tv_nsec + 2000000L : 1000000L};
    if (wait.tv_nsec >= 1000000000L) {
        wait.tv_sec = 1;
        wait.tv_nsec -= 1000000000L;
    }
    while (std::time(nullptr) == second) {
        while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
        }
        wait = timespec{0, 1000000L};
    }
}

std::string Format_Local_Time(const std::tm& local, const char* format) {
    char buffer[129] = {};
    const std::size_t n = std::strftime(buffer, 128, format, &local);
    return std::string(buffer, n);
}

}  // namespace platform
