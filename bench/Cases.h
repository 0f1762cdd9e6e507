// The relay benchmark's four cases: throughput, latency, idle CPU and exit
// overhead. Idle runs each way of running the twin a number of times in a
// row; throughput, latency and exit run all of them in rounds, each once a
// round in an order rotated from round to round, so that whatever the
// shared machine does meanwhile falls on every subject alike and each
// round's figures can be compared with each other.
#pragma once

#include <windows.h>

#include <vector>

#include "Relays.h"

namespace bench {

// Many small floods rather than a few large ones: 20 rounds give four
// times the per-round ratios that 5 rounds of 64 MiB gave, in about the
// same time.
const unsigned long long kFloodBytes = 16ull << 20;
const DWORD kFloodWrite = 1u << 20;
const int kTicks = 40;
const DWORD kTickMs = 50;
const DWORD kSilentMs = 3000;
// The twin runs about 50 ms after a launcher is started; 100 ms more leave
// every launcher settled in its relay before the twin ends, and 61 rounds
// of that cost what 10 runs of a 1 s wait did.
const DWORD kExitAfterMs = 100;
// The CPU window sits inside the silent time, clear of start-up and exit.
const DWORD kIdleFromMs = 500;
const DWORD kIdleToMs = 2800;

struct Stats {
    int runs = 0;
    int failed = 0;
    std::vector<double> values;  // every figure of the case's runs (latency: of every line)
    // Each run's figure in run order (latency: its p99), NaN for a run that
    // failed: in the cases run in rounds, entry i of every subject is from
    // round i.
    std::vector<double> perRound;
};

struct IdleStats {
    Stats stat;
    Stats run;
};

// One Stats a way of running, in the order given.
std::vector<Stats> Throughput(const std::vector<Via>& vias, int rounds);
IdleStats Idle(const wchar_t* args, Via via, int runs);
std::vector<Stats> Latency(const std::vector<Via>& vias, int rounds);
std::vector<Stats> ExitOverhead(const std::vector<Via>& vias, int rounds);

} // namespace bench
