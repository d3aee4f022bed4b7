// Measures start-up and memory of GUI programs: starts each in turn, times from CreateProcess
// to its first visible top-level window with QueryPerformanceCounter, reads its peak working set
// at that moment, and ends it. Programs are run alternately so drift hits all of them alike.
//
// Usage: startup_launcher RUNS PROGRAM.exe...
// Prints one line per run, then per program the medians and the fastest run.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle()
    {
        if (handle_ != nullptr) CloseHandle(handle_);
    }
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

struct Search {
    DWORD processId;
    bool found;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window)) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

struct Sample {
    double milliseconds; // CreateProcess to the visible window
    SIZE_T peakWorkingSet;
};

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency)
{
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Returns false if the program did not show a window within 30 seconds.
bool RunOnce(const std::wstring& program, Sample& sample)
{
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        std::fwprintf(stderr, L"cannot start %ls (error %lu)\n", program.c_str(), GetLastError());
        return false;
    }
    const Handle process(info.hProcess);
    const Handle thread(info.hThread);

    Search search = {info.dwProcessId, false};
    bool shown = false;
    for (;;) {
        EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
        QueryPerformanceCounter(&now);
        if (search.found) {
            shown = true;
            break;
        }
        if (Seconds(start, now, frequency) > 30 || WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0) break;
        Sleep(1);
    }
    sample.milliseconds = 1000 * Seconds(start, now, frequency);

    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    sample.peakWorkingSet = GetProcessMemoryInfo(process.Get(), &counters, sizeof counters) ? counters.PeakWorkingSetSize : 0;

    TerminateProcess(process.Get(), 0);
    WaitForSingleObject(process.Get(), 10000);
    if (!shown) std::fwprintf(stderr, L"%ls showed no window\n", program.c_str());
    return shown;
}

template <typename T>
T Median(std::vector<T> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: startup_launcher RUNS PROGRAM.exe...\n");
        return 2;
    }
    const int runs = std::max(1, _wtoi(argv[1]));
    const std::vector<std::wstring> programs(argv + 2, argv + argc);

    // One run of each first, not counted: it pays for the disk cache and Wine's first start.
    Sample warmUp;
    for (const auto& program : programs) {
        if (!RunOnce(program, warmUp)) return 1;
    }

    std::vector<std::vector<double>> times(programs.size());
    std::vector<std::vector<SIZE_T>> memory(programs.size());
    for (int run = 1; run <= runs; ++run) {
        for (std::size_t p = 0; p < programs.size(); ++p) {
            Sample sample;
            if (!RunOnce(programs[p], sample)) return 1;
            times[p].push_back(sample.milliseconds);
            memory[p].push_back(sample.peakWorkingSet);
            std::wprintf(L"run %d %ls %.2f ms, peak working set %zu KiB\n", run, programs[p].c_str(),
                         sample.milliseconds, sample.peakWorkingSet / 1024);
        }
    }
    for (std::size_t p = 0; p < programs.size(); ++p) {
        // The fastest run shows the cost with the least interference from other work on the machine.
        std::wprintf(L"median %ls %.2f ms, peak working set %zu KiB, %d runs, fastest %.2f ms\n",
                     programs[p].c_str(), Median(times[p]), Median(memory[p]) / 1024, runs,
                     *std::min_element(times[p].begin(), times[p].end()));
    }
    return 0;
}
