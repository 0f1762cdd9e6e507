// Plays the device's Remote API service for one block-mode call:
//   rapi-host.exe <library file> <export name> [<input bytes as hex>]
// Like the service, it allocates the input block with LocalAlloc and hands it
// over to the called function, which releases it. It prints the result, the
// output size and pointer, and whether the input block is still allocated,
// and exits with 0 when the call returned S_OK.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

typedef HRESULT(WINAPI *BlockCall)(DWORD, BYTE *, DWORD *, BYTE **, void *);

static bool ParseHex(const wchar_t *text, std::vector<BYTE> &bytes)
{
    std::wstring digits;
    for (; *text != L'\0'; ++text) {
        if (*text == L' ')
            continue;
        if (!iswxdigit(*text))
            return false;
        digits += *text;
    }
    if (digits.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<BYTE>(std::wcstoul(digits.substr(i, 2).c_str(), nullptr, 16)));
    return true;
}

// Whether block is still a busy entry of the process heap, which LocalAlloc
// draws from. Walking the heap is the documented way to tell without touching
// freed memory.
static bool IsStillAllocated(const void *block)
{
    HANDLE heap = GetProcessHeap();
    PROCESS_HEAP_ENTRY entry = {};
    bool found = false;

    if (!HeapLock(heap))
        return true;
    while (HeapWalk(heap, &entry)) {
        if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) && entry.lpData == block) {
            found = true;
            break;
        }
    }
    HeapUnlock(heap);
    return found;
}

int wmain(int argc, wchar_t **argv)
{
    if (argc < 3 || argc > 4) {
        std::fwprintf(stderr, L"usage: rapi-host <library file> <export name> [<input hex>]\n");
        return 2;
    }

    std::vector<BYTE> input;
    if (argc == 4 && !ParseHex(argv[3], input)) {
        std::fwprintf(stderr, L"rapi-host: bad input bytes: %ls\n", argv[3]);
        return 2;
    }

    HMODULE library = LoadLibraryW(argv[1]);
    if (library == nullptr) {
        std::fwprintf(stderr, L"rapi-host: LoadLibraryW(%ls) failed: %lu\n", argv[1], GetLastError());
        return 2;
    }

    int status = 2;
    std::string name(argv[2], argv[2] + std::wcslen(argv[2]));
    BlockCall call = reinterpret_cast<BlockCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, name.c_str())));
    if (call == nullptr) {
        std::fwprintf(stderr, L"rapi-host: no export %ls\n", argv[2]);
    } else {
        BYTE *block = nullptr;
        if (!input.empty()) {
            block = static_cast<BYTE *>(LocalAlloc(LMEM_FIXED, input.size()));
            if (block != nullptr)
                CopyMemory(block, input.data(), input.size());
        }
        if (!input.empty() && block == nullptr) {
            std::fwprintf(stderr, L"rapi-host: LocalAlloc failed\n");
        } else {
            DWORD outputSize = 0xCCCCCCCC;
            BYTE *output = reinterpret_cast<BYTE *>(static_cast<UINT_PTR>(0xCCCCCCCC));
            HRESULT result = call(static_cast<DWORD>(input.size()), block, &outputSize, &output, nullptr);
            bool leaked = block != nullptr && IsStillAllocated(block);

            std::wprintf(L"HRESULT 0x%08lX\n", static_cast<unsigned long>(result));
            std::wprintf(L"output size %lu\n", static_cast<unsigned long>(outputSize));
            std::wprintf(L"output %p\n", static_cast<void *>(output));
            if (block != nullptr)
                std::wprintf(L"input block %ls\n", leaked ? L"still allocated" : L"released");
            std::fflush(stdout);
            status = result == S_OK ? 0 : 1;
        }
    }
    FreeLibrary(library);
    return status;
}
