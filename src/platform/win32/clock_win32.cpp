#include "platform/clock.h"

#include "platform/win32/win32_api.h"

namespace doorlink::platform {

LocalTime local_time() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    LocalTime t;
    t.year = now.wYear;
    t.month = now.wMonth;
    t.dayOfWeek = now.wDayOfWeek;
    t.day = now.wDay;
    t.hour = now.wHour;
    t.minute = now.wMinute;
    t.second = now.wSecond;
    t.milliseconds = now.wMilliseconds;
    return t;
}

uint32_t tick_count_ms() { return ::GetTickCount(); }

void sleep_ms(uint32_t milliseconds) { ::Sleep(milliseconds); }

uint32_t process_id() { return ::GetCurrentProcessId(); }

}  // namespace doorlink::platform
