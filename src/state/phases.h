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

// The one table of the measurements' names: each phase with the words the
// stop line names it by ("low write"), as a single-node test and as a cluster
// phase. The tools' texts.MEASUREMENTS spells the same names with hyphens.
struct PhaseName {
  Phase Value;
  const char* Words;
};
constexpr PhaseName kPhaseNames[kPhaseCount] = {
    {Phase::StreamHandling, "stream handling"},
    {Phase::DescriptorHandling, "descriptor handling"},
    {Phase::LowWrite, "low write"},
    {Phase::LowRead, "low read"},
    {Phase::HighRead, "high read"},
    {Phase::HighWrite, "high write"},
};

constexpr bool PhaseNamesInOrder() {
  for (int index = 0; index < kPhaseCount; ++index) {
    if (PhaseIndex(kPhaseNames[index].Value) != index) return false;
  }
  return true;
}
static_assert(PhaseNamesInOrder(), "a phase's name sits at the phase's own entry");

constexpr const char* PhaseWords(Phase phase) { return kPhaseNames[PhaseIndex(phase)].Words; }
