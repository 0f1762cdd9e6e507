// The relay benchmark's ways of running the twin: read directly, through
// pl3.com, or through a reference relay; and the thread that drains what
// comes out. Set up by the main program before any case runs.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace bench {

// The reference relay in three chunk sizes: 4 KiB is the common one; 1023
// bytes and 64 KiB show what the chunk size alone allows. It is also a
// program of its own, relay4k.com, started as pl3.com is, so that its
// figures include a process's start and end as pl3.com's do: with 4 KiB
// reads, and with 1023-byte ones, pl3.com's chunk, for throughput.
enum Via { kLauncher, kDirect, kRelay4K, kRelay1023, kRelay64K, kDescribed, kLauncherX86,
           kRelayProgram, kRelayProgramX86, kRelayProgram1023, kRelayProgram1023X86 };
const char* const kViaNames[] = {"pl3.com", "direct read (limit)", "relay 4 KiB",
                                 "relay 1023 B", "relay 64 KiB", "described design",
                                 "pl3.com x86", "relay 4 KiB program",
                                 "relay 4 KiB program x86", "relay 1023 B program",
                                 "relay 1023 B program x86"};
const char* const kViaKeys[] = {"pl3", "direct", "relay_4k", "relay_1023", "relay_64k",
                                "described", "pl3_x86", "relay_4k_program",
                                "relay_4k_program_x86", "relay_1023_program",
                                "relay_1023_program_x86"};
const DWORD kRelayChunk[] = {0, 0, 4096, 1023, 65536, 1023, 0, 0, 0, 0, 0};

extern LONGLONG g_frequency;
extern std::wstring g_folder;     // the temporary install folder
extern std::wstring g_launcher;   // <folder>\pl3.com
extern std::wstring g_twin;       // <folder>\pl3.exe
extern std::wstring g_relayProgram;  // <folder>\relay4k.com, its twin relay4k.exe
extern std::wstring g_folderX86;  // the same for the x86 builds, when measured
extern std::wstring g_launcherX86;
extern std::wstring g_twinX86;
extern std::wstring g_relayProgramX86;
extern HANDLE g_nul;

LONGLONG Now();
double Ms(LONGLONG ticks);

// The program a way of running starts: a launcher, or else the twin.
const std::wstring& ProgramOf(Via via);

struct Capture {
    HANDLE pipe = NULL;
    bool keepLines = false;
    unsigned long long bytes = 0;
    unsigned long long firstBytes = 0;
    LONGLONG first = 0;
    LONGLONG last = 0;
    std::string pending;
    std::vector<std::pair<std::string, LONGLONG> > lines;  // text, arrival
};

struct Relay {
    HANDLE from = NULL;
    HANDLE to = NULL;
    DWORD chunk = 0;
    HANDLE twin = NULL;   // for the described design, which polls its status
};

struct Session {
    Via via = kDirect;
    HANDLE process = NULL;   // the launcher, or the twin when there is none
    HANDLE relayThread = NULL;
    HANDLE captureThread = NULL;
    Relay relay;
    Capture capture;
    LONGLONG start = 0;
    LONGLONG launcherEnd = 0;  // the launcher, the twin or the relay thread seen ending
    DWORD exitCode = 0;
    bool ok = false;
};

// Starts the twin with `args`, through pl3.com, directly or through a
// reference relay (a thread of ours or relay4k.com), with a thread draining
// what comes out.
bool Begin(Session& s, Via via, const std::wstring& args, bool keepLines);

// Waits for the session to end; a session that overruns is ended by force
// and counts as failed.
void Finish(Session& s, DWORD timeoutMs);

} // namespace bench
