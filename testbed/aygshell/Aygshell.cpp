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
//   PELORIN_AYGSHELL_POLICY  a file that keeps policy 4097's value as
//                            decimal text: a document that sets it (and
//                            succeeds) writes it there, and a parm-query
//                            of it is answered from there
// A parm-query gets the _QUERY_ variants of RESULT and OUTPUT instead; where
// PELORIN_AYGSHELL_QUERY_OUTPUT is unset it is answered with the kept value,
// or with no value where none is kept.
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
    const std::wstring text = document != nullptr ? document : L"";
    const bool query = text.find(L"<parm-query name=\"4097\"/>") != std::wstring::npos;
    const std::wstring prefix = query ? L"PELORIN_AYGSHELL_QUERY_" : L"PELORIN_AYGSHELL_";
    const std::wstring set = L"<parm name=\"4097\" value=\"";

    std::wstring policyFile, kept, answer, result;
    HRESULT code = ReadEnv((prefix + L"RESULT").c_str(), result)
                       ? (HRESULT)wcstoul(result.c_str(), nullptr, 0)
                       : S_OK;
    if (ReadEnv(L"PELORIN_AYGSHELL_POLICY", policyFile)) {
        FILE *file = _wfopen(policyFile.c_str(), L"rb");
        for (int c; file != nullptr && (c = fgetc(file)) >= '0' && c <= '9';)
            kept += (wchar_t)c;
        if (file != nullptr)
            fclose(file);
        size_t at = text.find(set);
        if (!query && at != std::string::npos && SUCCEEDED(code) &&
            (file = _wfopen(policyFile.c_str(), L"wb")) != nullptr) {
            std::wstring value = text.substr(at + set.size());
            fputs(ToUtf8(value.substr(0, value.find(L'"'))).c_str(), file);
            fclose(file);
        }
    }
    bool answered = ReadEnv((prefix + L"OUTPUT").c_str(), answer);
    if (query && !answered) {
        answered = true;
        answer = L"<wap-provisioningdoc><characteristic type=\"SecurityPolicy\">" +
                 (kept.empty() ? L"" : L"<parm name=\"4097\" value=\"" + kept + L"\"/>") +
                 L"</characteristic></wap-provisioningdoc>";
    }
    if (output != nullptr && answered) {
        *output = new WCHAR[answer.size() + 1];
        wmemcpy(*output, answer.c_str(), answer.size() + 1);
    }
    return code;
}
