// A harmless program for the process tests:
//   test_helper sleep MS     sleeps, then exits with 0
//   test_helper exit N       exits with N
//   test_helper mutex NAME   exits with 183 when the named mutex exists already,
//                            0 when it created it, 1 when it could not
//   test_helper load NAME    loads the DLL NAME by the default search (its own
//                            folder first); 0 when it was loaded
//   test_helper link TARGET LINK
//                            starts /bin/ln to make LINK a symbolic link to
//                            TARGET (Unix paths); 0 when ln was started, which
//                            Wine gives no handle to wait on
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

int start_ln(const wchar_t* target, const wchar_t* link) {
    std::wstring command_line = L"ln -s \"" + std::wstring(target) + L"\" \"" + link + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    // Wine fills this with what an earlier start left: none of it is ln's.
    PROCESS_INFORMATION ignored{};
    if (CreateProcessW(L"Z:\\bin\\ln", command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &ignored))
        return 0;
    std::fprintf(stderr, "ln not started: error %lu\n", GetLastError());
    return 1;
}

}  // namespace

// Wide arguments: the paths given to link need not fit the ANSI code page.
int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wcscmp(argv[1], L"sleep") == 0) {
        Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
        return 0;
    }
    if (argc == 3 && std::wcscmp(argv[1], L"exit") == 0)
        return static_cast<int>(std::wcstol(argv[2], nullptr, 10));
    if (argc == 3 && std::wcscmp(argv[1], L"mutex") == 0) {
        HANDLE mutex = CreateMutexW(nullptr, TRUE, argv[2]);
        if (mutex == nullptr) return 1;
        return GetLastError() == ERROR_ALREADY_EXISTS ? 183 : 0;
    }
    if (argc == 3 && std::wcscmp(argv[1], L"load") == 0)
        return LoadLibraryW(argv[2]) != nullptr ? 0 : 1;
    if (argc == 4 && std::wcscmp(argv[1], L"link") == 0) return start_ln(argv[2], argv[3]);
    return 2;
}
