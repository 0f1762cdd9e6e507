// Relay benchmark: how fast, how promptly and how cheaply pl3.com relays its
// twin's output, measured side by side with references in the same run:
// the twin read directly (the limit), a one-thread relay built in here
// (blocking reads and writes, the way common console launchers do it), the
// same 4 KiB relay as a program of its own (relay4k.com), and a relay built
// the way the launcher was first described: it peeks without pausing while
// the twin runs, reads at most 1023 bytes a pass and pauses 250 ms once the
// twin has ended.
//
// Usage: relay-bench [--quick] [--only throughput|latency|idle|exit]
//                    [--x86 <folder>] [--json <file>]
// pl3.com, relay4k.com and bench-twin.exe are taken from this program's own
// folder and installed in a fresh temporary folder, the twin as pl3.exe and
// as relay4k.exe; with --x86, the x86 builds of all three are taken from
// <folder> and measured as well.
//
// Relays.cpp holds the ways of running the twin and the in-process relays,
// Cases.cpp the four cases and Report.cpp the goals, table and JSON; this
// file installs the programs and runs the cases.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "Cases.h"
#include "Relays.h"
#include "Report.h"

using namespace bench;

namespace {

std::wstring FolderOf(const std::wstring& path)
{
    return path.substr(0, path.find_last_of(L"\\/"));
}

// What an install folder holds, as the build's file and its name there:
// each launcher with the benchmark's twin beside it under its own name.
const wchar_t* const kInstalled[][2] = {
    {L"pl3.com", L"pl3.com"},
    {L"bench-twin.exe", L"pl3.exe"},
    {L"relay4k.com", L"relay4k.com"},
    {L"bench-twin.exe", L"relay4k.exe"},
};
const int kInstalledCount = sizeof kInstalled / sizeof kInstalled[0];

// Installs pl3.com, relay4k.com and a twin for each from `bin` in a fresh
// folder named after `tag`.
bool Install(const std::wstring& bin, const wchar_t* tag, std::wstring* folder,
             std::wstring* launcher, std::wstring* twin, std::wstring* relayProgram)
{
    wchar_t temp[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH)
        return false;
    wchar_t name[64];
    std::swprintf(name, 64, L"relay-bench-%ls-%lu-%lu", tag, GetCurrentProcessId(),
                  GetTickCount());
    *folder = std::wstring(temp) + name;
    *launcher = *folder + L"\\pl3.com";
    *twin = *folder + L"\\pl3.exe";
    *relayProgram = *folder + L"\\relay4k.com";
    if (!CreateDirectoryW(folder->c_str(), NULL))
        return false;
    for (int i = 0; i < kInstalledCount; ++i) {
        std::wstring from = bin + L"\\" + kInstalled[i][0];
        if (!CopyFileW(from.c_str(), (*folder + L"\\" + kInstalled[i][1]).c_str(), TRUE)) {
            std::printf("%ls is not in %ls\n", kInstalled[i][0], bin.c_str());
            return false;
        }
    }
    return true;
}

void Uninstall(const std::wstring& folder)
{
    if (folder.empty())
        return;
    for (int i = 0; i < kInstalledCount; ++i)
        DeleteFileW((folder + L"\\" + kInstalled[i][1]).c_str());
    RemoveDirectoryW(folder.c_str());
}

std::wstring OwnFolder()
{
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(NULL, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return std::wstring();
    return FolderOf(self);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring json;
    std::wstring only;
    std::wstring x86;
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--quick") == 0)
            quick = true;
        else if (std::wcscmp(argv[i], L"--json") == 0 && i + 1 < argc)
            json = argv[++i];
        else if (std::wcscmp(argv[i], L"--only") == 0 && i + 1 < argc)
            only = argv[++i];
        else if (std::wcscmp(argv[i], L"--x86") == 0 && i + 1 < argc)
            x86 = argv[++i];
        else {
            std::printf("usage: relay-bench [--quick] [--only throughput|latency|idle|exit]"
                        " [--x86 <folder>] [--json <file>]\n");
            return 2;
        }
    }
    std::setvbuf(stdout, NULL, _IONBF, 0);
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    g_frequency = f.QuadPart;

    int status = 1;
    const int throughputRounds = quick ? 4 : 20;
    const int latencyRounds = quick ? 2 : 9;
    const int idleRuns = quick ? 1 : 5;
    const int exitRounds = quick ? 5 : 61;
    const bool withX86 = !x86.empty();
    std::vector<Row> rows;
    std::vector<Via> vias;
    double spinning = -1, sleeping = -1;
    bool methodValid = false;
    char date[32];
    SYSTEMTIME now;

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    g_nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                        OPEN_EXISTING, 0, NULL);
    if (g_nul == INVALID_HANDLE_VALUE ||
        !Install(OwnFolder(), L"native", &g_folder, &g_launcher, &g_twin, &g_relayProgram) ||
        (withX86 && !Install(x86, L"x86", &g_folderX86, &g_launcherX86, &g_twinX86,
                             &g_relayProgramX86))) {
        std::printf("cannot install the programs to measure\n");
        goto done;
    }
    if (!withX86)
        std::printf("the x86 pl3.com and relay4k.com are left out (no --x86 folder given)\n");

    // Every case measures the launcher builds beside the limit, the common
    // 4 KiB relay as a thread and as a program of each build, and the
    // described design.
    vias.push_back(kDirect);
    vias.push_back(kLauncher);
    if (withX86)
        vias.push_back(kLauncherX86);
    vias.push_back(kRelay4K);
    vias.push_back(kRelayProgram);
    if (withX86)
        vias.push_back(kRelayProgramX86);
    vias.push_back(kDescribed);

    if (only.empty() || only == L"throughput") {
        std::printf("throughput: %llu bytes, %d rounds of every subject\n", kFloodBytes,
                    throughputRounds);
        // Each pl3.com is judged against the relay program of its own build
        // reading its 1023-byte chunks: a 32-bit process pays more for each
        // call under WoW64.
        std::vector<Via> throughputVias = vias;
        throughputVias.push_back(kRelay1023);
        throughputVias.push_back(kRelay64K);
        throughputVias.push_back(kRelayProgram1023);
        if (withX86)
            throughputVias.push_back(kRelayProgram1023X86);
        std::vector<Stats> throughput = Throughput(throughputVias, throughputRounds);
        for (size_t i = 0; i < throughputVias.size(); ++i) {
            Via v = throughputVias[i];
            Row r = {"throughput", kViaKeys[v], kViaNames[v], "MB/s", throughput[i], true, false};
            rows.push_back(r);
        }
    }
    if (only.empty() || only == L"latency") {
        std::printf("latency: %d lines %lu ms apart, %d rounds of every subject\n", kTicks, kTickMs,
                    latencyRounds);
        std::vector<Stats> latency = Latency(vias, latencyRounds);
        for (size_t i = 0; i < vias.size(); ++i) {
            Via v = vias[i];
            Row r = {"latency", kViaKeys[v], kViaNames[v], "ms", latency[i], false, true};
            rows.push_back(r);
        }
    }
    if (only.empty() || only == L"idle") {
        std::printf("idle: twin silent %lu ms, CPU read from %lu to %lu ms\n", kSilentMs,
                    kIdleFromMs, kIdleToMs);
        // The reading must tell a spinning process from a sleeping one, or
        // the launcher's figure means nothing.
        wchar_t args[64];
        std::swprintf(args, 64, L"spin %lu", kSilentMs);
        IdleStats spin = Idle(args, kDirect, 1);
        std::swprintf(args, 64, L"silent %lu", kSilentMs);
        IdleStats sleep = Idle(args, kDirect, 1);
        if (!spin.stat.values.empty() && !sleep.stat.values.empty()) {
            spinning = spin.stat.values[0];
            sleeping = sleep.stat.values[0];
            // Other work on a shared machine can take half the core away
            // from the spinner; a reading that works still shows it plainly.
            methodValid = spinning > 25 && sleeping < 1 &&
                          spin.run.values[0] > 25 && sleep.run.values[0] < 1;
        }
        std::printf("  reading check: spinning twin %.1f%%, sleeping twin %.1f%%: %s\n", spinning,
                    sleeping, methodValid ? "valid" : "NOT VALID");
        Row idleRows[] = {
            {"idle", "spinning_twin", "spinning twin (check, stat)", "% CPU", spin.stat, false, false},
            {"idle", "spinning_twin_sched", "spinning twin (check, scheduler)", "% CPU", spin.run, false, false},
            {"idle", "sleeping_twin", "sleeping twin (floor, stat)", "% CPU", sleep.stat, false, false},
            {"idle", "sleeping_twin_sched", "sleeping twin (floor, scheduler)", "% CPU", sleep.run, false, false},
        };
        rows.insert(rows.end(), idleRows, idleRows + 4);
        for (size_t i = 0; i < vias.size(); ++i) {
            Via v = vias[i];
            if (v == kDirect)
                continue;
            IdleStats idle = Idle(args, v, v == kLauncher || v == kLauncherX86 ? idleRuns : 1);
            std::string key = kViaKeys[v];
            std::string name = kViaNames[v];
            if (v == kRelay4K || v == kDescribed) {
                // A relay thread of this program: its own thread times.
                Row r = {"idle", key + "_thread", name + " (thread times)", "% CPU", idle.stat, false, false};
                rows.push_back(r);
                continue;
            }
            Row stat = {"idle", key, name + " (stat)", "% CPU", idle.stat, false, false};
            Row sched = {"idle", key + "_sched", name + " (scheduler)", "% CPU", idle.run, false, false};
            rows.push_back(stat);
            rows.push_back(sched);
        }
    }
    if (only.empty() || only == L"exit") {
        std::printf("exit: twin exits after %lu ms, %d rounds of every subject\n", kExitAfterMs,
                    exitRounds);
        std::vector<Stats> exits = ExitOverhead(vias, exitRounds);
        for (size_t i = 0; i < vias.size(); ++i) {
            Via v = vias[i];
            Row r = {"exit", kViaKeys[v], kViaNames[v], "ms", exits[i], false, false};
            rows.push_back(r);
        }
    }
    GetSystemTime(&now);
    std::snprintf(date, sizeof date, "%04u-%02u-%02u %02u:%02u UTC", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute);
    {
        std::vector<Goal> goals = Goals(rows, methodValid, withX86);
        PrintTable(rows, goals, date);
        if (!json.empty() && !WriteJson(json, rows, goals, date, spinning, sleeping, methodValid)) {
            std::printf("cannot write %ls\n", json.c_str());
            goto done;
        }
    }
    status = 0;
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].stats.failed > 0)
            status = 1;
done:
    Uninstall(g_folder);
    Uninstall(g_folderX86);
    if (g_nul != INVALID_HANDLE_VALUE)
        CloseHandle(g_nul);
    return status;
}
