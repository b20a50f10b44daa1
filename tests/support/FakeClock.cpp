#include "support/FakeClock.h"

CFakeClock::CFakeClock() : m_time{} { SetLocalTime(2024, 1, 31, 12, 0, 0); }

void CFakeClock::SetLocalTime(int year, int month, int day, int hour, int minute, int second, int ms) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_time.wYear = static_cast<WORD>(year);
  m_time.wMonth = static_cast<WORD>(month);
  m_time.wDay = static_cast<WORD>(day);
  m_time.wDayOfWeek = 0;
  m_time.wHour = static_cast<WORD>(hour);
  m_time.wMinute = static_cast<WORD>(minute);
  m_time.wSecond = static_cast<WORD>(second);
  m_time.wMilliseconds = static_cast<WORD>(ms);
}

void CFakeClock::GetLocalTime(platform::SYSTEMTIME& time) {
  std::lock_guard<std::mutex> lock(m_mutex);
  time = m_time;
}
