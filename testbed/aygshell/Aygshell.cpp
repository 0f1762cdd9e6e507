// Stand-in for the handheld shell library: only its configuration-manager
// call, which the setup library uses to grant Remote API access.
//
// Behaviour from the environment of the loading process:
//   PELORIN_AYGSHELL_LOG     file to which each call appends one UTF-8 line:
//                            "flags=<n> output=<null|set> document=<text>"
//                            (output: the output pointer's value on entry)
//   PELORIN_AYGSHELL_RESULT  the HRESULT to return (C notation, e.g.
//                            0x80042a0b; default 0)
//   PELORIN_AYGSHELL_OUTPUT  if set, handed back as the output text,
//                            allocated with new[] as the real call does
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

bool ReadEnv(const wchar_t *name, std::wstring &value)
{
    DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0)
        return false;
    value.assign(size, L'\0');
    DWORD written = GetEnvironmentVariableW(name, value.data(), size);
    if (written >= size)
        return false;
    value.resize(written);
    return true;
}

std::string ToUtf8(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(),
                                   nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), out.data(),
                        size, nullptr, nullptr);
    return out;
}

void Record(LPCWSTR document, DWORD flags, LPWSTR *output)
{
    std::wstring logPath;
    if (!ReadEnv(L"PELORIN_AYGSHELL_LOG", logPath))
        return;
    std::wstring line = L"flags=" + std::to_wstring(flags) + L" output="
                        + (output != nullptr && *output == nullptr ? L"null"
                                                                   : L"set")
                        + L" document=" + (document ? document : L"(null)")
                        + L"\n";
    FILE *file = _wfopen(logPath.c_str(), L"ab");
    if (file == nullptr)
        return;
    std::string bytes = ToUtf8(line);
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

} // namespace

extern "C" HRESULT WINAPI
DMProcessConfigXML(LPCWSTR document, DWORD flags, LPWSTR *output)
{
    Record(document, flags, output);

    std::wstring text;
    if (output != nullptr && ReadEnv(L"PELORIN_AYGSHELL_OUTPUT", text)) {
        *output = new WCHAR[text.size() + 1];
        wmemcpy(*output, text.c_str(), text.size() + 1);
    }

    std::wstring result;
    if (ReadEnv(L"PELORIN_AYGSHELL_RESULT", result))
        return (HRESULT)wcstoul(result.c_str(), nullptr, 0);
    return S_OK;
}
