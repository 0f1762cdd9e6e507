// The relay benchmark's cases, and how CPU use is read for the idle one.
#include "Cases.h"

#include <cstdio>
#include <limits>
#include <memory>
#include <string>

#include "Measure.h"

namespace bench {

namespace {

// What the described design may leave unrelayed at the twin's end: it
// relays one more chunk, and the pipe holds up to its buffer.
const DWORD kDescribedMayLose = 4096;

const double kFailed = std::numeric_limits<double>::quiet_NaN();

// One run of a case run in rounds: records what it measured in `st` and
// gives the run's own figure; false when the run failed.
typedef bool (*RunOnce)(Via via, Stats* st, double* figure);

// Runs every way once a round, starting each round one way further on.
std::vector<Stats> InRounds(const std::vector<Via>& vias, int rounds, RunOnce once)
{
    std::vector<Stats> st(vias.size());
    for (int r = 0; r < rounds; ++r) {
        for (size_t k = 0; k < vias.size(); ++k) {
            size_t i = (r + k) % vias.size();
            double figure = kFailed;
            ++st[i].runs;
            if (!once(vias[i], &st[i], &figure)) {
                ++st[i].failed;
                figure = kFailed;
            }
            st[i].perRound.push_back(figure);
        }
    }
    return st;
}

bool ThroughputOnce(Via via, Stats* st, double* mbPerSecond)
{
    wchar_t args[64];
    std::swprintf(args, 64, L"flood %llu %lu", kFloodBytes, kFloodWrite);
    std::unique_ptr<Session> s(new Session);
    Begin(*s, via, args, false);
    Finish(*s, 120000);
    unsigned long long mayLose = via == kDescribed ? kDescribedMayLose : 0;
    bool complete = s->capture.bytes <= kFloodBytes && s->capture.bytes + mayLose >= kFloodBytes;
    if (!s->ok || !complete || s->capture.last <= s->capture.first) {
        if (s->ok)
            std::printf("  %s delivered %llu of %llu bytes\n", kViaNames[via], s->capture.bytes,
                        kFloodBytes);
        return false;
    }
    // From the first read to the last, so start-up does not count.
    double mb = (s->capture.bytes - s->capture.firstBytes) / 1e6;
    *mbPerSecond = mb / (Ms(s->capture.last - s->capture.first) / 1000.0);
    st->values.push_back(*mbPerSecond);
    return true;
}

bool LatencyOnce(Via via, Stats* st, double* p99)
{
    wchar_t args[64];
    std::swprintf(args, 64, L"ticks %d %lu", kTicks, kTickMs);
    std::unique_ptr<Session> s(new Session);
    Begin(*s, via, args, true);
    Finish(*s, 30000);
    std::vector<double> run;
    for (size_t k = 0; k < s->capture.lines.size(); ++k) {
        int index;
        long long sent;
        if (std::sscanf(s->capture.lines[k].first.c_str(), "tick %d %lld", &index, &sent) == 2)
            run.push_back(Ms(s->capture.lines[k].second - sent));
    }
    st->values.insert(st->values.end(), run.begin(), run.end());
    if (!s->ok || run.size() != static_cast<size_t>(kTicks)) {
        if (s->ok)
            std::printf("  %s relayed %d of %d lines\n", kViaNames[via],
                        static_cast<int>(run.size()), kTicks);
        return false;
    }
    *p99 = Percentile(run, 99);
    return true;
}

bool ExitOnce(Via via, Stats* st, double* overhead)
{
    wchar_t args[64];
    std::swprintf(args, 64, L"exitafter %lu", kExitAfterMs);
    std::unique_ptr<Session> s(new Session);
    Begin(*s, via, args, true);
    Finish(*s, 30000);
    long long exited = 0;
    bool reported = !s->capture.lines.empty() &&
        std::sscanf(s->capture.lines.back().first.c_str(), "exit %lld", &exited) == 1;
    if (!s->ok || !reported)
        return false;
    *overhead = Ms(s->launcherEnd - exited);
    st->values.push_back(*overhead);
    return true;
}

// Waits until `ms` after `start`.
void SleepUntil(LONGLONG start, DWORD ms)
{
    LONGLONG left = start + g_frequency * ms / 1000 - Now();
    if (left > 0)
        Sleep(static_cast<DWORD>(Ms(left)));
}

// CPU use as a percentage of wall time, read two ways.
struct CpuUse {
    double stat;   // user plus system time from the stat line
    double run;    // the scheduler's run time of all threads
};

// CPU time of one of our own threads, in 100 ns units.
unsigned long long ThreadCpu(HANDLE thread)
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(thread, &created, &exited, &kernel, &user))
        return 0;
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return k.QuadPart + u.QuadPart;
}

// CPU use of a relay thread of ours over the idle window. Its own process's
// thread times are right under Wine, in the stat line's 10 ms ticks.
bool MeasureThreadCpu(HANDLE thread, LONGLONG start, CpuUse* use)
{
    SleepUntil(start, kIdleFromMs);
    LONGLONG t0 = Now();
    unsigned long long cpu0 = ThreadCpu(thread);
    SleepUntil(start, kIdleToMs);
    LONGLONG t1 = Now();
    unsigned long long cpu1 = ThreadCpu(thread);
    use->stat = (cpu1 - cpu0) / 1e4 / Ms(t1 - t0) * 100.0;
    use->run = use->stat;
    return true;
}

// CPU use of the process started as `image` over the idle window.
bool MeasureCpu(const std::wstring& image, LONGLONG start, CpuUse* use)
{
    DWORD pid = 0;
    for (int i = 0; i < 100 && pid == 0; ++i) {
        pid = tb::FindLinuxPid(image);
        if (pid == 0)
            Sleep(10);
    }
    if (pid == 0) {
        std::printf("  no Linux process found for %ls\n", image.c_str());
        return false;
    }
    unsigned long long ticks0 = 0, ticks1 = 0, ns0 = 0, ns1 = 0;
    SleepUntil(start, kIdleFromMs);
    LONGLONG t0 = Now();
    if (!tb::ReadCpuTicks(pid, &ticks0) || !tb::ReadRunNs(pid, &ns0))
        return false;
    SleepUntil(start, kIdleToMs);
    LONGLONG t1 = Now();
    if (!tb::ReadCpuTicks(pid, &ticks1) || !tb::ReadRunNs(pid, &ns1))
        return false;
    double wallMs = Ms(t1 - t0);
    use->stat = (ticks1 - ticks0) / tb::kTicksPerSecond * 1000.0 / wallMs * 100.0;
    use->run = (ns1 - ns0) / 1e6 / wallMs * 100.0;
    return true;
}

} // namespace

std::vector<Stats> Throughput(const std::vector<Via>& vias, int rounds)
{
    return InRounds(vias, rounds, ThroughputOnce);
}

IdleStats Idle(const wchar_t* args, Via via, int runs)
{
    IdleStats st;
    for (int i = 0; i < runs; ++i) {
        std::unique_ptr<Session> s(new Session);
        ++st.stat.runs;
        ++st.run.runs;
        CpuUse use;
        bool measured = false;
        if (Begin(*s, via, args, false)) {
            if (s->relayThread != NULL)
                measured = MeasureThreadCpu(s->relayThread, s->start, &use);
            else
                measured = MeasureCpu(ProgramOf(via), s->start, &use);
        }
        Finish(*s, 30000);
        if (!s->ok || !measured) {
            ++st.stat.failed;
            ++st.run.failed;
            st.stat.perRound.push_back(kFailed);
            st.run.perRound.push_back(kFailed);
            continue;
        }
        st.stat.values.push_back(use.stat);
        st.run.values.push_back(use.run);
        st.stat.perRound.push_back(use.stat);
        st.run.perRound.push_back(use.run);
    }
    return st;
}

std::vector<Stats> Latency(const std::vector<Via>& vias, int rounds)
{
    return InRounds(vias, rounds, LatencyOnce);
}

std::vector<Stats> ExitOverhead(const std::vector<Via>& vias, int rounds)
{
    return InRounds(vias, rounds, ExitOnce);
}

} // namespace bench
