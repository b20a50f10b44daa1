// Which file call a fault-injection test makes fail: the k-th call of one
// kind (open, write, flush, rename, lock, truncate, delete), once or from
// then on, or the k-th write cut short (part of its bytes land, then it
// fails as a full disk would).
//
// The failing file layers (CFailingFileIo, CFailingFileSystem and, on posix,
// CFailingProfileFileCalls) ask the plan before each call they forward. A
// scenario runs once with no fault armed to count its calls of each kind,
// then once for every k up to that count, as SQLite's fault loops do.
// Threads: the counters are atomic; arming is for set-up between runs.
#ifndef VERSEWELL_TESTS_SUPPORT_FAULT_PLAN_H
#define VERSEWELL_TESTS_SUPPORT_FAULT_PLAN_H

#include <gtest/gtest.h>

#include <atomic>
#include <string>

enum class EFileCall { OPEN, WRITE, FLUSH, RENAME, LOCK, TRUNCATE, REMOVE, COUNT };
enum class EFaultMode { ONCE, PERSISTENT, SHORT_WRITE };

const char* FileCallName(EFileCall call);
const char* FaultModeName(EFaultMode mode);

class CFaultPlan {
 public:
  enum class EVerdict { PASS, FAIL, CUT_SHORT };

  // Fails the k-th (from 1) call of `call` from now on, in `mode`; the
  // counters restart.
  void Arm(EFileCall call, int k, EFaultMode mode);
  // No more faults; the counters restart.
  void Disarm();
  // No more faults; the counters go on (a scenario's recovery part).
  void Stop() { m_armedCall = -1; }
  // Counts one call of `call` and says what to do with it.
  EVerdict Next(EFileCall call);
  // Calls of `call` counted since the last Arm or Disarm.
  int Calls(EFileCall call) const { return m_calls[static_cast<int>(call)].load(); }
  // Faults injected since the last Arm.
  int Injected() const { return m_injected.load(); }
  std::string Describe() const;

 private:
  std::atomic<int> m_calls[static_cast<int>(EFileCall::COUNT)] = {};
  std::atomic<int> m_armedCall{-1};
  std::atomic<int> m_armedK{0};
  std::atomic<int> m_mode{0};
  std::atomic<int> m_injected{0};
};

// Bytes a write cut short still stores: an odd count (when there is more
// than one byte), so that text in two-byte units is left torn mid-unit.
inline unsigned CutShortSize(unsigned size) { return size > 1 ? ((size / 2) | 1u) : 0u; }

// The fault loop: runs `scenario` without faults to count its calls of
// `kind`, then once for every k up to that count in each mode (a write cut
// short only for writes), stopping at the first fatal failure. A scenario
// that wants its recovery part fault-free calls plan.Stop(), which keeps the
// counts.
template <typename F>
void ForEveryFault(CFaultPlan& plan, EFileCall kind, F scenario) {
  plan.Disarm();
  scenario();
  const int calls = plan.Calls(kind);
  ASSERT_GT(calls, 0) << "the scenario makes no " << FileCallName(kind) << " call";
  for (EFaultMode mode : {EFaultMode::ONCE, EFaultMode::PERSISTENT, EFaultMode::SHORT_WRITE}) {
    if (mode == EFaultMode::SHORT_WRITE && kind != EFileCall::WRITE) continue;
    for (int k = 1; k <= calls; ++k) {
      plan.Arm(kind, k, mode);
      SCOPED_TRACE(plan.Describe());
      scenario();
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
  plan.Disarm();
}

#endif  // VERSEWELL_TESTS_SUPPORT_FAULT_PLAN_H
