// A harmless program for the process tests:
//   test_helper sleep MS     sleeps, then exits with 0
//   test_helper exit N       exits with N
//   test_helper mutex NAME   exits with 183 when the named mutex exists already,
//                            0 when it created it, 1 when it could not
//   test_helper load NAME    loads the DLL NAME by the default search (its own
//                            folder first); 0 when it was loaded
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "sleep") == 0) {
        Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "exit") == 0) return std::atoi(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "mutex") == 0) {
        HANDLE mutex = CreateMutexA(nullptr, TRUE, argv[2]);
        if (mutex == nullptr) return 1;
        return GetLastError() == ERROR_ALREADY_EXISTS ? 183 : 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "load") == 0)
        return LoadLibraryA(argv[2]) != nullptr ? 0 : 1;
    return 2;
}
