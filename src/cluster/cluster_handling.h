// Phases 1 and 2: file handling on every worker at once, through streams and
// through descriptors, and the root's report of both.
#pragma once

void WorkerStreamHandling();
void WorkerDescriptorHandling();
// "Multi-Thread Enabled:" and the two "Power of Handling Files" sections.
void ReportHandlingPhases();
