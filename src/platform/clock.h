// The wall clock and the system time zone.
#pragma once

#include <ctime>
#include <string>

namespace platform {

// Bias of the system time zone in minutes (UTC = local time + bias), taken
// from the zone's standard offset: the smaller of the offsets at 1 January
// and 1 July of `year`, so daylight saving time never counts.
int Standard_Bias_Minutes(int year);
int Standard_Bias_Minutes();  // for the current year

// The current local wall-clock time.
std::tm Local_Now();

// Sleeps until the wall clock has reached its next second.
void Wait_For_Next_Second();

// strftime into at most 128 characters.
std::string Format_Local_Time(const std::tm& local, const char* format);

}  // namespace platform
