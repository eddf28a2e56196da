// The series loop as it is written, with nothing around it: the yardstick that
// the program's own loop is measured against.
#pragma once

/// Sums terms 0 .. max-1 of the arctan series at x as written: two power calls and a division per term.
double transcribedSeries(int x, int max);
