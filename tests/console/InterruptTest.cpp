// Ctrl+C, Ctrl+Break and closing the launcher's console. The test program has no
// console under Wine, so ctrl-helper.exe, started with a console of its own,
// runs pl3.com in it and sends the event there.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "Pl3Folder.h"
#include "TestSupport.h"

namespace {

struct Outcome {
    DWORD generateError = 0;
    std::string exit;    // pl3.com's status in hex, or "running"
    DWORD afterMs = 0;   // from the event to pl3.com's end
    std::string output;  // what pl3.com relayed
    std::vector<std::string> modes;  // the console's output modes the helper saw
    DWORD twinId = 0;
    DWORD childId = 0;   // the process the twin started
};

class Interrupt : public Pl3Folder {
protected:
    void SetUp() override
    {
        Pl3Folder::SetUp();
        ASSERT_TRUE(tb::CopyBinary(L"ctrl-helper.exe", dir.Join(L"ctrl-helper.exe")));
    }

    // pl3.com with a twin that starts a process, makes the window asked for
    // ("" none), reports and then takes its messages.
    std::wstring Pl3(const std::wstring &window = L"") const
    {
        return L"\"" + Launcher() + L"\" pid spawn:sleep:20000 " + window + L" line:ready pump:20000";
    }

    // Runs ctrl-helper.exe with arguments in a console of its own; false,
    // the test failed, unless it ended and wrote its report. Its status
    // alone proves nothing: a helper whose thread the system aborts (Wine 10
    // does on Ctrl+Break) ends with 0.
    bool RunHelper(const std::wstring &arguments, const std::wstring &report)
    {
        DeleteFileW(report.c_str());
        std::wstring line = L"\"" + dir.Join(L"ctrl-helper.exe") + L"\" " + arguments;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION helper = {};
        if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE,
                            nullptr, nullptr, &startup, &helper)) {
            ADD_FAILURE() << "cannot start the helper, error " << GetLastError();
            return false;
        }
        bool ended = WaitForSingleObject(helper.hProcess, 40000) == WAIT_OBJECT_0;
        DWORD code = 1;
        GetExitCodeProcess(helper.hProcess, &code);
        if (!ended)
            TerminateProcess(helper.hProcess, 1);
        CloseHandle(helper.hThread);
        CloseHandle(helper.hProcess);
        if (!ended || code != 0 || !tb::FileExists(report)) {
            ADD_FAILURE() << "helper failed: ended " << ended << ", status " << code
                          << ", report " << (tb::FileExists(report) ? "written" : "missing");
            return false;
        }
        return true;
    }

    // Runs program in the helper's console, interrupts it with event ("c",
    // "break" or "close") and reads what the helper saw.
    bool Send(const wchar_t *event, const std::wstring &program, Outcome *outcome)
    {
        std::wstring report = dir.Join(L"report.txt");
        if (!RunHelper(L"\"" + report + L"\" " + event + L" " + program, report))
            return false;

        std::string text = tb::ReadFileBytes(report);
        size_t exitAt = text.find("\r\nexit=");
        size_t afterAt = text.find("\r\nafter=");
        size_t retriedAt = text.find("\r\nretried=");
        size_t modesAt = text.find("\r\nmodes=");
        size_t outputAt = text.find("\r\noutput=");
        if (text.compare(0, 9, "generate=") != 0 || exitAt == std::string::npos ||
            afterAt == std::string::npos || retriedAt == std::string::npos ||
            modesAt == std::string::npos || outputAt == std::string::npos) {
            ADD_FAILURE() << "unreadable report: " << text;
            return false;
        }
        outcome->generateError = std::stoul(text.substr(9));
        outcome->exit = text.substr(exitAt + 7, afterAt - exitAt - 7);
        outcome->afterMs = std::stoul(text.substr(afterAt + 8));
        if (text.compare(retriedAt + 10, 1, "1") == 0)
            std::cout << "note: pl3.com was refused its start of the twin, and the helper "
                      << "started it once more" << std::endl;
        std::istringstream modes(text.substr(modesAt + 8, outputAt - modesAt - 8));
        outcome->modes.assign(std::istream_iterator<std::string>(modes), {});
        outcome->output = text.substr(outputAt + 9);
        size_t pidAt = outcome->output.find("pid:");
        if (pidAt != std::string::npos)
            outcome->twinId = std::stoul(outcome->output.substr(pidAt + 4));
        size_t childAt = outcome->output.find("grandchild:");
        if (childAt != std::string::npos)
            outcome->childId = std::stoul(outcome->output.substr(childAt + 11));
        return true;
    }

    // Whether a console program's handler hears event here at all: the
    // helper's probe, started in pl3.com's place, marks any event it gets.
    // False also where the probe could not be run; the test has failed then.
    bool HandlerHears(const wchar_t *event, Outcome *probe)
    {
        std::wstring marker = dir.Join(L"marker.txt");
        DeleteFileW(marker.c_str());
        return Send(event, L"\"" + dir.Join(L"ctrl-helper.exe") + L"\" listen \"" + marker + L"\"",
                    probe) &&
               tb::FileExists(marker);
    }

    static void ExpectInterrupted(const Outcome &outcome, bool relayedReady = true)
    {
        EXPECT_EQ("0xC000013A", outcome.exit);
        if (relayedReady)
            EXPECT_NE(std::string::npos, outcome.output.find("ready\r\n")) << outcome.output;
        ASSERT_NE(0u, outcome.twinId) << outcome.output.substr(0, 100);
        ASSERT_NE(0u, outcome.childId) << outcome.output.substr(0, 100);
        EXPECT_FALSE(tb::IsRunning(outcome.twinId)) << "the hidden twin was left running";
        EXPECT_TRUE(tb::WaitUntil([&] { return !tb::IsRunning(outcome.childId); }, 1000))
            << "the twin's child was left running";
    }
};

// The program is asked to close first, and given 5 s; then it is ended with
// all it started, and the run counts as interrupted even where the program
// closed by itself. A second Ctrl+C ends it at once.
TEST_F(Interrupt, CtrlCAsksTheHiddenTwinToCloseThenEndsItWithItsChildAndTheLauncher)
{
    struct Case {
        const wchar_t *event;
        const wchar_t *window;
        const char *said;  // what the twin says when asked
        DWORD atLeastMs;
        DWORD belowMs;
    } cases[] = {
        {L"c", L"", nullptr, 0, 2000},
        {L"c", L"window:close", "saved\r\n", 0, 2000},
        {L"c", L"window:ignore", "ignored\r\n", 4500, 9000},
        {L"c2", L"window:ignore", "ignored\r\n", 0, 2000},
        // On a console, which pl3.com tells to act on escape sequences for
        // the run and then puts back as it was.
        {L"c-console", L"window:close", "saved", 0, 2000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(tb::Narrow(std::wstring(c.event) + L" " + c.window));
        Outcome outcome;
        ASSERT_TRUE(Send(c.event, Pl3(c.window), &outcome));
        ASSERT_EQ(0u, outcome.generateError);
        bool onConsole = std::wstring(c.event) == L"c-console";
        ExpectInterrupted(outcome, !onConsole);
        EXPECT_GE(outcome.afterMs, c.atLeastMs);
        EXPECT_LT(outcome.afterMs, c.belowMs);
        if (c.said != nullptr)
            EXPECT_NE(std::string::npos, outcome.output.find(c.said)) << outcome.output.substr(0, 300);
        if (onConsole) {
            ASSERT_EQ(4u, outcome.modes.size());
            // Before, what the console takes, while pl3.com runs, after.
            EXPECT_EQ(outcome.modes[1], outcome.modes[2]);
            EXPECT_EQ(outcome.modes[0], outcome.modes[3]);
            if (outcome.modes[0] == outcome.modes[1])
                std::cout << "note: this console acts on no escape sequences" << std::endl;
        }
    }
}

// A caller that waits for pl3.com's end before it reads leaves pl3.com
// stuck writing to it; Ctrl+C must still end it.
TEST_F(Interrupt, CtrlCEndsTheLauncherWhileItsCallerReadsNothing)
{
    Outcome outcome;
    ASSERT_TRUE(Send(L"c-unread",
                     L"\"" + Launcher() + L"\" pid spawn:sleep:20000 out:400000 line:ready sleep:20000",
                     &outcome));
    ASSERT_EQ(0u, outcome.generateError);
    EXPECT_LT(outcome.afterMs, 5000u);
    // What reached the pipe before pl3.com was stuck: never the "ready".
    ExpectInterrupted(outcome, false);
}

TEST_F(Interrupt, CtrlBreakEndsTheHiddenTwinWithItsChildAndTheLauncher)
{
    // Wine 8 refuses to send Ctrl+Break; Wine 10 sends it as SIGQUIT, which
    // no handler hears.
    Outcome probe;
    if (!HandlerHears(L"break", &probe)) {
        ASSERT_FALSE(HasFailure());
        GTEST_SKIP() << "no console handler hears Ctrl+Break here (GenerateConsoleCtrlEvent "
                     << "error " << probe.generateError << ", probe status " << probe.exit << ")";
    }
    Outcome outcome;
    ASSERT_TRUE(Send(L"break", Pl3(), &outcome));
    ASSERT_EQ(0u, outcome.generateError);
    ExpectInterrupted(outcome);
}

TEST_F(Interrupt, ClosingTheConsoleEndsTheHiddenTwinWithItsChildAndTheLauncher)
{
    Outcome probe;
    if (!HandlerHears(L"close", &probe)) {
        ASSERT_FALSE(HasFailure());
        ASSERT_EQ(0u, probe.generateError) << "the console window could not be closed";
        // The probe itself must be able to tell: it does see Ctrl+C.
        Outcome heard;
        ASSERT_TRUE(HandlerHears(L"c", &heard)) << "the probe sees no event at all";
        GTEST_SKIP() << "this system ends console programs without a close event (probe "
                     << "status " << probe.exit << ")";
    }
    Outcome outcome;
    ASSERT_TRUE(Send(L"close", Pl3(), &outcome));
    ExpectInterrupted(outcome);
}

// A console decodes each write alone, in its output code page: a character
// whose bytes fall in two of the launcher's chunks must still show whole, as
// one write of all the bytes shows it. The helper's console is the one the
// launcher writes to here.
class Pl3OnAConsole : public Interrupt {};

TEST_F(Pl3OnAConsole, ShowsCharactersCutByAChunkEndAsOneWriteShowsThem)
{
    // "A" then "é" in UTF-8; "AB" then "日本" in code page 932: the 1023-byte
    // chunks end inside a character. After only "A", the first chunk ends
    // just after a "日", whose second byte can also be a first one.
    std::string utf8 = "A";
    std::string kanji;
    std::string shiftJis;
    for (int i = 0; i < 1500; ++i)
        utf8 += "\xC3\xA9";
    for (int i = 0; i < 400; ++i) {
        kanji += "\xE6\x97\xA5\xE6\x9C\xAC";
        shiftJis += "\x93\xFA\x96\x7B";
    }
    struct Case {
        UINT codePage;
        std::string bytes;
        std::string shown;  // the text in UTF-8
    };
    for (const Case &page : {Case{65001, utf8, utf8}, Case{932, "AB" + shiftJis, "AB" + kanji},
                             Case{932, "A" + shiftJis, "A" + kanji}}) {
        SCOPED_TRACE("code page " + std::to_string(page.codePage) + ", " +
                     std::to_string(page.bytes.size()) + " bytes");
        std::wstring bytes = dir.Join(L"bytes.bin");
        std::wstring report = dir.Join(L"screen.txt");
        ASSERT_TRUE(tb::WriteFileBytes(bytes, page.bytes));
        ASSERT_TRUE(RunHelper(L"screen \"" + report + L"\" " + std::to_wstring(page.codePage) +
                              L" \"" + bytes + L"\" \"" + Launcher() + L"\" file:" + bytes,
                              report));
        std::string text = tb::ReadFileBytes(report);
        size_t modesAt = text.find("\r\nmodes=");
        size_t relayedAt = text.find("\r\nrelayed=");
        size_t writtenAt = text.find("\r\nwritten=");
        ASSERT_TRUE(text.compare(0, 5, "exit=") == 0 && modesAt != std::string::npos &&
                    relayedAt != std::string::npos && writtenAt != std::string::npos)
            << "unreadable report: " << text.substr(0, 200);
        EXPECT_EQ("0x00000000", text.substr(5, modesAt - 5));
        // The console's mode after pl3.com's end is the one before its start.
        std::string modes = text.substr(modesAt + 8, relayedAt - modesAt - 8);
        EXPECT_EQ(modes.substr(0, modes.find(' ')), modes.substr(modes.find(' ') + 1));
        std::string relayed = text.substr(relayedAt + 10, writtenAt - relayedAt - 10);
        std::string written = text.substr(writtenAt + 10);
        // One write shows the text itself, or the comparison would prove
        // nothing.
        EXPECT_TRUE(written == page.shown) << "one write shows: " << written.substr(0, 200);
        size_t differs = std::mismatch(written.begin(), written.end(), relayed.begin(),
                                       relayed.end()).first - written.begin();
        EXPECT_TRUE(relayed == written)
            << relayed.size() << " bytes relayed, " << written.size() << " written; from byte "
            << differs << " the console shows " << relayed.substr(differs, 40);
    }
}

}  // namespace
