#pragma once

#include <functional>

class QWidget;

// What a start-up probe tells the benchmark that launched it, as one line on
// standard output once it is done: "<painted> <cpu> <peak>", then the process
// quits. <painted> is the steady clock in nanoseconds (one clock for every
// process on the machine) when `window` had painted itself for the first
// time and handed the picture to the platform; <cpu> the processor time in
// nanoseconds that all the process's threads had used by then, a steadier
// measure than the clock when the machine is busy with other work; <peak>
// the process's peak resident memory in KiB, read once the program is at
// rest.
//
// `untilAtRest` is called after the first paint with the function to call
// when the program has nothing more to do; the floor calls it at once, the
// real window when its font list has arrived. Both sides then idle for the
// same short while before the peak is read, so that work the platform
// defers past the first paint is counted alike.
using AtRest = std::function<void(std::function<void()> done)>;
void reportStartup(QWidget &window, AtRest untilAtRest);
