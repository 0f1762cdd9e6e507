// The relay benchmark's four cases: throughput, latency, idle CPU and exit
// overhead, each run a number of times through one way of running the twin.
#pragma once

#include <windows.h>

#include <vector>

#include "Relays.h"

namespace bench {

const unsigned long long kFloodBytes = 64ull << 20;
const DWORD kFloodWrite = 1u << 20;
const int kTicks = 40;
const DWORD kTickMs = 50;
const DWORD kSilentMs = 3000;
const DWORD kExitAfterMs = 1000;
// The CPU window sits inside the silent time, clear of start-up and exit.
const DWORD kIdleFromMs = 500;
const DWORD kIdleToMs = 2800;

struct Stats {
    int runs = 0;
    int failed = 0;
    std::vector<double> values;
    std::vector<double> runP99;  // latency: each run's own p99
};

struct IdleStats {
    Stats stat;
    Stats run;
};

Stats Throughput(Via via, int runs);
Stats Latency(Via via, int runs);
IdleStats Idle(const wchar_t* args, Via via, int runs);
Stats ExitOverhead(Via via, int runs);

} // namespace bench
