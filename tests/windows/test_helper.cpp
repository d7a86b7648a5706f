// A harmless program for the process tests:
//   test_helper sleep MS     sleeps, then exits with 0
//   test_helper exit N       exits with N
//   test_helper mutex NAME   exits with 183 when the named mutex exists already,
//                            0 when it created it, 1 when it could not
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
    return 2;
}
