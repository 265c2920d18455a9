// The six measurements, in the order every process makes them: the root's
// single-node tests and the workers' cluster phases alike, so that a cluster
// phase divides by the single-node result of the same measurement. The report
// numbers the cluster phases 1 to 6 in this order.
#pragma once

enum class Phase : int {
  StreamHandling = 1,
  DescriptorHandling,
  LowWrite,
  LowRead,
  HighRead,
  HighWrite,
};
constexpr int kPhaseCount = 6;

// 1 to 6, as the report names a phase.
constexpr int PhaseNumber(Phase phase) { return static_cast<int>(phase); }
// 0 to 5, the phase's entry in an array of kPhaseCount.
constexpr int PhaseIndex(Phase phase) { return PhaseNumber(phase) - 1; }

template <typename Entry>
Entry& OfPhase(Entry (&entries)[kPhaseCount], Phase phase) {
  return entries[PhaseIndex(phase)];
}
