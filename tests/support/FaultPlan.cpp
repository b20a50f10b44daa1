#include "support/FaultPlan.h"

const char* FileCallName(EFileCall call) {
  static const char* const kNames[] = {"open", "write", "flush", "rename", "lock", "truncate", "delete"};
  const int i = static_cast<int>(call);
  return i >= 0 && i < static_cast<int>(EFileCall::COUNT) ? kNames[i] : "?";
}

const char* FaultModeName(EFaultMode mode) {
  switch (mode) {
    case EFaultMode::ONCE: return "once";
    case EFaultMode::PERSISTENT: return "from then on";
    case EFaultMode::SHORT_WRITE: return "cut short";
  }
  return "?";
}

void CFaultPlan::Arm(EFileCall call, int k, EFaultMode mode) {
  Disarm();
  m_mode = static_cast<int>(mode);
  m_armedK = k;
  m_armedCall = static_cast<int>(call);
}

void CFaultPlan::Disarm() {
  m_armedCall = -1;
  m_injected = 0;
  for (std::atomic<int>& c : m_calls) c = 0;
}

CFaultPlan::EVerdict CFaultPlan::Next(EFileCall call) {
  const int n = ++m_calls[static_cast<int>(call)];
  if (m_armedCall.load() != static_cast<int>(call)) return EVerdict::PASS;
  const EFaultMode mode = static_cast<EFaultMode>(m_mode.load());
  const int k = m_armedK.load();
  if (n < k || (n > k && mode != EFaultMode::PERSISTENT)) return EVerdict::PASS;
  ++m_injected;
  return mode == EFaultMode::SHORT_WRITE ? EVerdict::CUT_SHORT : EVerdict::FAIL;
}

std::string CFaultPlan::Describe() const {
  const int armed = m_armedCall.load();
  if (armed < 0) return "no fault";
  return std::string(FileCallName(static_cast<EFileCall>(armed))) + " #" + std::to_string(m_armedK.load()) + " " +
         FaultModeName(static_cast<EFaultMode>(m_mode.load()));
}
