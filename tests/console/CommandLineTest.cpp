// The launcher's two small routines, checked in process.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "CommandLine.h"
#include "Pl3Folder.h"
#include "ReportLastError.h"
#include "TestSupport.h"

namespace {

struct Rewrite {
    const wchar_t *given;
    const wchar_t *expected;
};

TEST(RewriteProgramName, TurnsOnlyTheProgramNamesComIntoExe)
{
    const Rewrite table[] = {
        {L"D:\\Tools\\pl3.com /x", L"D:\\Tools\\pl3.exe /x"},
        {L"pl3 report.com", L"pl3 report.com"},
        {L"D:\\my.company\\pl3.com /x", L"D:\\my.company\\pl3.exe /x"},
        {L"\"C:\\A B\\PL3.COM\" a.com", L"\"C:\\A B\\PL3.exe\" a.com"},
        {L"pl3.Com", L"pl3.exe"},
        {L"pl3.com\ta.com", L"pl3.exe\ta.com"},
        {L"\"pl3.com\"", L"\"pl3.exe\""},
        {L"  pl3.com x", L"  pl3.exe x"},
        // A quote left open runs to the end of the line.
        {L"\"C:\\A B\\pl3.com", L"\"C:\\A B\\pl3.exe"},
        // The dot must begin the last four letters of the name.
        {L"\"C:\\x.com\\pl3\" a.com", L"\"C:\\x.com\\pl3\" a.com"},
        {L"pl3.command /x", L"pl3.command /x"},
        {L"D:\\pl3com /x.com", L"D:\\pl3com /x.com"},
        {L"com", L"com"},
        {L".com", L".exe"},
        {L"", L""},
    };
    for (const Rewrite &row : table) {
        std::wstring line = row.given;
        RewriteProgramName(&line[0]);
        EXPECT_EQ(row.expected, line) << "for " << tb::Narrow(row.given);
    }
}

// What ReportLastError writes for a given last error, caught from the
// standard output handle it writes to.
std::string ReportFor(DWORD code)
{
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, nullptr, 0))
        return "no pipe";
    HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, writeEnd);
    SetLastError(code);
    ReportLastError(L"CreateProcess");
    SetStdHandle(STD_OUTPUT_HANDLE, saved);
    CloseHandle(writeEnd);
    std::string line;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0)
        line.append(buffer, got);
    CloseHandle(readEnd);
    return line;
}

TEST(ReportLastError, WritesOneLineWithTheSystemText)
{
    std::string line = ReportFor(ERROR_ACCESS_DENIED);
    ASSERT_EQ(0u, line.find("CreateProcess: ")) << line;
    // The system's own line break is not doubled.
    EXPECT_EQ(line.size() - 2, line.find("\r\n")) << line;
    EXPECT_EQ(std::string::npos, line.find("error 5")) << line;
    EXPECT_GT(line.size(), std::string("CreateProcess: \r\n").size()) << line;
}

TEST(ReportLastError, ShowsTextsWithInsertsAndTheNumberWhereThereIsNoText)
{
    // No message exists for a code with the customer bit set.
    EXPECT_EQ("CreateProcess: error 536914893\r\n", ReportFor(0x2000ABCD));
    // The message for a bad program file has an insert that nobody fills.
    std::string text = SystemText(ERROR_BAD_EXE_FORMAT);
    ASSERT_NE(std::string::npos, text.find("%1")) << text;
    EXPECT_EQ("CreateProcess: " + text + "\r\n", ReportFor(ERROR_BAD_EXE_FORMAT));
}

}  // namespace
