// The relay benchmark's ways of running the twin, and the relays it is
// measured against: a thread that drains whatever comes out, the reference
// relay and the described design, each a thread of this program.
#include "Relays.h"

#include <cstdio>
#include <cstring>

namespace bench {

LONGLONG g_frequency;
std::wstring g_folder;
std::wstring g_launcher;
std::wstring g_twin;
std::wstring g_relayProgram;
std::wstring g_folderX86;
std::wstring g_launcherX86;
std::wstring g_twinX86;
std::wstring g_relayProgramX86;
HANDLE g_nul = INVALID_HANDLE_VALUE;

LONGLONG Now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

double Ms(LONGLONG ticks)
{
    return ticks * 1000.0 / g_frequency;
}

const std::wstring& ProgramOf(Via via)
{
    switch (via) {
    case kLauncher:
        return g_launcher;
    case kLauncherX86:
        return g_launcherX86;
    case kRelayProgram:
    case kRelayProgram1023:
        return g_relayProgram;
    case kRelayProgramX86:
    case kRelayProgram1023X86:
        return g_relayProgramX86;
    default:
        return g_twin;
    }
}

namespace {

const DWORD kDrainRead = 1u << 20;

DWORD WINAPI CaptureThread(void* param)
{
    Capture* c = static_cast<Capture*>(param);
    std::vector<char> buffer(kDrainRead);
    DWORD got = 0;
    while (ReadFile(c->pipe, buffer.data(), kDrainRead, &got, NULL) && got > 0) {
        LONGLONG now = Now();
        if (c->bytes == 0) {
            c->first = now;
            c->firstBytes = got;
        }
        c->last = now;
        c->bytes += got;
        if (!c->keepLines)
            continue;
        c->pending.append(buffer.data(), got);
        size_t end;
        while ((end = c->pending.find('\n')) != std::string::npos) {
            c->lines.push_back(std::make_pair(c->pending.substr(0, end), now));
            c->pending.erase(0, end + 1);
        }
    }
    return 0;
}

// The reference relay: one thread, blocking reads and writes.
DWORD WINAPI RelayThread(void* param)
{
    Relay* r = static_cast<Relay*>(param);
    std::vector<char> buffer(r->chunk);
    DWORD got = 0;
    while (ReadFile(r->from, buffer.data(), r->chunk, &got, NULL) && got > 0) {
        const char* p = buffer.data();
        while (got > 0) {
            DWORD written = 0;
            if (!WriteFile(r->to, p, got, &written, NULL) || written == 0)
                return 1;
            p += written;
            got -= written;
        }
    }
    return 0;
}

// The described design: one loop that asks for the twin's status, peeks
// and, when the peek saw bytes, reads at most 1023 of them and writes them
// up to their first zero byte, then flushes. It never pauses while the twin
// runs; once the twin's end is seen it pauses 250 ms, makes one more pass
// and stops, leaving whatever is still in the pipe.
DWORD WINAPI DescribedRelayThread(void* param)
{
    Relay* r = static_cast<Relay*>(param);
    char buffer[1024];
    bool finished = false;
    while (!finished) {
        DWORD status = STILL_ACTIVE;
        GetExitCodeProcess(r->twin, &status);
        if (status != STILL_ACTIVE) {
            Sleep(250);
            finished = true;
        }
        DWORD peeked = 0, available = 0;
        if (!PeekNamedPipe(r->from, buffer, sizeof buffer, &peeked, &available, NULL))
            break;
        if (peeked == 0)
            continue;
        ZeroMemory(buffer, sizeof buffer);
        DWORD got = 0;
        if (!ReadFile(r->from, buffer, 1023, &got, NULL) || got == 0)
            break;
        DWORD length = static_cast<DWORD>(std::strlen(buffer));
        DWORD written = 0;
        WriteFile(r->to, buffer, length, &written, NULL);
        FlushFileBuffers(r->to);
    }
    return 0;
}

void CloseIf(HANDLE& h)
{
    if (h != NULL && h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    h = NULL;
}

// Starts `line` with `out` as its standard output and error and the NUL
// device as its standard input. The twin is started as pl3.com starts it.
HANDLE StartProcess(const std::wstring& line, HANDLE out, bool asTwin)
{
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES | (asTwin ? STARTF_USESHOWWINDOW : 0);
    si.wShowWindow = SW_HIDE;
    si.hStdInput = g_nul;
    si.hStdOutput = out;
    si.hStdError = out;
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    SetHandleInformation(out, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    BOOL started = CreateProcessW(NULL, buffer.data(), NULL, NULL, TRUE,
                                  asTwin ? CREATE_NEW_CONSOLE : 0, NULL,
                                  g_folder.c_str(), &si, &pi);
    if (!started && GetLastError() == ERROR_INTERNAL_ERROR)  // seen once under load
        started = CreateProcessW(NULL, buffer.data(), NULL, NULL, TRUE,
                                 asTwin ? CREATE_NEW_CONSOLE : 0, NULL,
                                 g_folder.c_str(), &si, &pi);
    SetHandleInformation(out, HANDLE_FLAG_INHERIT, 0);
    if (!started) {
        std::printf("cannot start %ls: error %lu\n", line.c_str(), GetLastError());
        return NULL;
    }
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

} // namespace

bool Begin(Session& s, Via via, const std::wstring& args, bool keepLines)
{
    s.via = via;
    s.capture.keepLines = keepLines;
    const bool relay1023 = via == kRelayProgram1023 || via == kRelayProgram1023X86;
    std::wstring line = L"\"" + ProgramOf(via) + L"\" " + (relay1023 ? L"/chunk:1023 " : L"") + args;

    HANDLE drainWrite = NULL;
    HANDLE twinWrite = NULL;
    bool ok = false;
    if (!CreatePipe(&s.capture.pipe, &drainWrite, NULL, 0))
        goto done;
    s.start = Now();
    if (kRelayChunk[via] != 0) {
        if (!CreatePipe(&s.relay.from, &twinWrite, NULL, 0))
            goto done;
        s.process = StartProcess(line, twinWrite, true);
        if (s.process == NULL)
            goto done;
        s.relay.to = drainWrite;
        drainWrite = NULL;  // Finish closes it once the relay thread is done
        s.relay.chunk = kRelayChunk[via];
        s.relay.twin = s.process;
        s.relayThread = CreateThread(NULL, 0, via == kDescribed ? DescribedRelayThread : RelayThread,
                                     &s.relay, 0, NULL);
        if (s.relayThread == NULL)
            goto done;
    } else {
        s.process = StartProcess(line, drainWrite, via == kDirect);
        if (s.process == NULL)
            goto done;
    }
    s.captureThread = CreateThread(NULL, 0, CaptureThread, &s.capture, 0, NULL);
    ok = s.captureThread != NULL;
done:
    CloseIf(drainWrite);
    CloseIf(twinWrite);
    return ok;
}

void Finish(Session& s, DWORD timeoutMs)
{
    bool inTime = true;
    if (s.process != NULL) {
        inTime = WaitForSingleObject(s.process, timeoutMs) == WAIT_OBJECT_0;
        s.launcherEnd = Now();
        if (!inTime)
            TerminateProcess(s.process, 1);
        GetExitCodeProcess(s.process, &s.exitCode);
    }
    if (s.relayThread != NULL) {
        inTime = inTime && WaitForSingleObject(s.relayThread, timeoutMs) == WAIT_OBJECT_0;
        s.launcherEnd = Now();
        CloseIf(s.relay.to);  // unblocks the drain if the relay was stuck
        WaitForSingleObject(s.relayThread, INFINITE);
    }
    if (s.captureThread != NULL) {
        // A launcher passes its standard output on to the twin, so the drain
        // ends when both have gone.
        if (WaitForSingleObject(s.captureThread, timeoutMs) != WAIT_OBJECT_0) {
            inTime = false;
            CancelSynchronousIo(s.captureThread);
            WaitForSingleObject(s.captureThread, INFINITE);
        }
    }
    s.ok = inTime && s.captureThread != NULL && s.exitCode == 0;
    if (!inTime)
        std::printf("  a run overran %lu ms and was ended\n", timeoutMs);
    else if (s.exitCode != 0)
        std::printf("  a run ended with status %lu\n", s.exitCode);
    CloseIf(s.process);
    CloseIf(s.relayThread);
    CloseIf(s.captureThread);
    CloseIf(s.relay.from);
    CloseIf(s.relay.to);
    CloseIf(s.capture.pipe);
}

} // namespace bench
