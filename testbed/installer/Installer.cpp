// Stand-in for the device's package installer, as far as it meets a setup
// library: it loads the library, calls its entry points around "the files"
// and acts on their results (1 from an _Init cancels, 1 from Install_Exit
// undoes the installation).
//
//   installer [/noui|/silent] install <setup dll> <install dir> [<package folder>]
//   installer [/noui|/silent] remove  <setup dll> <install dir> [<package folder>]
//
// Words that start with "/" are the real installer's switches for an
// unattended run: this one passes them over, and the setup library reads
// them from the command line of the process it runs in.
//
// "The files" are the files directly in the package folder: copied into the
// installation directory at installation, deleted from it at removal. As the
// package's registry section would, installation also records the
// installation directory under the client's installation key, and removal
// deletes that key.
//
// Exit status: 0 done, 1 usage or loading failure, 2 cancelled by an _Init
// entry, 3 installation undone after Install_Exit.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "SetupEntryPoints.h"

namespace {

const wchar_t kInstallKey[] = L"Software\\Apps\\Pelorin Client";


void Say(const std::wstring &text)
{
    std::wstring line = text + L"\n";
    int size = WideCharToMultiByte(CP_UTF8, 0, line.data(), (int)line.size(),
                                   nullptr, 0, nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.data(), (int)line.size(),
                        bytes.data(), size, nullptr, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), stdout);
    fflush(stdout);
}

std::wstring ErrorText(DWORD error)
{
    return L"error " + std::to_wstring(error);
}

// Names of the plain files directly in folder.
std::vector<std::wstring> PackageFiles(const std::wstring &folder)
{
    std::vector<std::wstring> names;
    if (folder.empty())
        return names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            names.push_back(entry.cFileName);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return names;
}

bool WriteInstallDir(const std::wstring &dir)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExW(key, L"InstallDir", 0, REG_SZ,
                                 (const BYTE *)dir.c_str(),
                                 (DWORD)((dir.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

void DeleteInstallKey()
{
    LONG status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, kInstallKey);
    Say(status == ERROR_SUCCESS ? L"registry: installation key deleted"
                                : L"registry: installation key not deleted ("
                                      + ErrorText(status) + L")");
}

void RemoveFiles(const std::wstring &dir, const std::vector<std::wstring> &names)
{
    for (const std::wstring &name : names) {
        std::wstring path = dir + L"\\" + name;
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            Say(L"files: " + name + L" already gone");
        else if (DeleteFileW(path.c_str()))
            Say(L"files: removed " + name);
        else
            Say(L"files: could not remove " + name + L" ("
                + ErrorText(GetLastError()) + L")");
    }
}

void RemoveInstallDirIfEmpty(const std::wstring &dir)
{
    if (RemoveDirectoryW(dir.c_str()))
        Say(L"files: removed the installation directory");
    else
        Say(L"files: installation directory kept ("
            + ErrorText(GetLastError()) + L")");
}

int Install(HMODULE library, const std::wstring &dir,
            const std::wstring &package)
{
    auto init = (pfnINSTALL_INIT)(void (*)())GetProcAddress(library,
                                                            "Install_Init");
    auto exit = (pfnINSTALL_EXIT)(void (*)())GetProcAddress(library,
                                                            "Install_Exit");
    if (init == nullptr || exit == nullptr) {
        Say(L"installer: the library lacks Install_Init or Install_Exit");
        return 1;
    }

    int result = init(nullptr, TRUE, FALSE, dir.c_str());
    Say(L"Install_Init returned " + std::to_wstring(result));
    if (result == 1) {
        Say(L"installer: installation cancelled");
        return 2;
    }

    CreateDirectoryW(dir.c_str(), nullptr);
    std::vector<std::wstring> installed;
    for (const std::wstring &name : PackageFiles(package)) {
        std::wstring target = dir + L"\\" + name;
        if (CopyFileW((package + L"\\" + name).c_str(), target.c_str(),
                      FALSE)) {
            installed.push_back(name);
            Say(L"files: installed " + name);
        } else {
            Say(L"files: could not install " + name + L" ("
                + ErrorText(GetLastError()) + L")");
        }
    }
    Say(WriteInstallDir(dir) ? L"registry: InstallDir = " + dir
                             : L"registry: could not write InstallDir");

    result = exit(nullptr, dir.c_str(), 0, 0, 0, 0, 0);
    Say(L"Install_Exit returned " + std::to_wstring(result));
    if (result == 1) {
        RemoveFiles(dir, installed);
        DeleteInstallKey();
        RemoveInstallDirIfEmpty(dir);
        Say(L"installer: installation undone");
        return 3;
    }
    Say(L"installer: installation complete");
    return 0;
}

int Remove(HMODULE library, const std::wstring &dir,
           const std::wstring &package)
{
    auto init = (pfnUNINSTALL_INIT)(void (*)())GetProcAddress(
        library, "Uninstall_Init");
    auto exit = (pfnUNINSTALL_EXIT)(void (*)())GetProcAddress(
        library, "Uninstall_Exit");
    if (init == nullptr || exit == nullptr) {
        Say(L"installer: the library lacks Uninstall_Init or Uninstall_Exit");
        return 1;
    }

    int result = init(nullptr, dir.c_str());
    Say(L"Uninstall_Init returned " + std::to_wstring(result));
    if (result == 1) {
        Say(L"installer: removal cancelled");
        return 2;
    }

    RemoveFiles(dir, PackageFiles(package));
    DeleteInstallKey();
    RemoveInstallDirIfEmpty(dir);

    result = exit(nullptr);
    Say(L"Uninstall_Exit returned " + std::to_wstring(result));
    Say(L"installer: removal complete");
    return 0;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    int words = 0;
    for (int i = 0; i < argc; ++i) {
        if (argv[i][0] != L'/')
            argv[words++] = argv[i];
    }
    argc = words;
    if (argc < 4 || argc > 5
        || (std::wstring(argv[1]) != L"install"
            && std::wstring(argv[1]) != L"remove")) {
        Say(L"usage: installer [/noui|/silent] install|remove <setup dll> "
            L"<install dir> [<package folder>]");
        return 1;
    }
    std::wstring mode = argv[1];
    std::wstring dir = argv[3];
    std::wstring package = argc == 5 ? argv[4] : L"";

    HMODULE library = LoadLibraryW(argv[2]);
    if (library == nullptr) {
        Say(L"installer: cannot load " + std::wstring(argv[2]) + L" ("
            + ErrorText(GetLastError()) + L")");
        return 1;
    }
    int status = mode == L"install" ? Install(library, dir, package)
                                    : Remove(library, dir, package);
    FreeLibrary(library);
    return status;
}
