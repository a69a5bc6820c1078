#include "winsock_peer.h"

namespace zebtest {

bool under_wine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

double thread_cpu_seconds() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    auto seconds = [](const FILETIME& t) {
        return double((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

double wall_seconds() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

bool thread_cpu_time_measured() {
    static const bool measured = [] {
        const double cpu = thread_cpu_seconds();
        const double start = wall_seconds();
        while (wall_seconds() - start < 0.100) {
        }
        return thread_cpu_seconds() - cpu > 0.010;
    }();
    return measured;
}

}  // namespace zebtest
