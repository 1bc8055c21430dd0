// Job floor: what putting the child in a job adds to a start, timed inside. It starts
// PROGRAM (the demo app) ROUNDS times each way, alternating: plainly, as a launcher packed
// with --child-outlives-launcher does, and the launcher's default way (a job that ends the
// child when its last handle goes and lets what the child starts leave it, the child created
// suspended, put in the job, resumed). Each start is timed from before the first call to
// after the child runs (CreateProcessW returned, or ResumeThread did), not the child's run;
// each child is waited for before the next start.
//
//   job-floor.exe PROGRAM ROUNDS
//
// Prints plain_us and job_us, the median start of each way, and job_extra_us, the median of
// the rounds' differences (key=value lines for the driver).
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/floor_support.hpp"

namespace {

void start(const std::wstring& program, bool in_job, int64_t* start_us) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring command_line = L"\"" + program + L"\"";
    PROCESS_INFORMATION process{};
    int64_t begin = clock_now();
    HANDLE job = nullptr;
    if (in_job) {
        job = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags =
            JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
        if (job == nullptr ||
            !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
            fail("no job");
        }
    }
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                        NORMAL_PRIORITY_CLASS | (in_job ? CREATE_SUSPENDED : 0), nullptr, nullptr, &startup,
                        &process)) {
        fail("no child", program.c_str());
    }
    if (in_job &&
        (!AssignProcessToJobObject(job, process.hProcess) || ResumeThread(process.hThread) == ~0u)) {
        fail("no child in the job");
    }
    *start_us = elapsed_us(begin, clock_now());
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    if (job != nullptr) {
        CloseHandle(job);
    }
}

int64_t median(std::vector<int64_t> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fail("usage: job-floor.exe PROGRAM ROUNDS");
    }
    std::wstring program = argv[1];
    int rounds = std::max(1, _wtoi(argv[2]));
    std::vector<int64_t> plain, in_job, extra;
    for (int round = 0; round < rounds; ++round) {
        int64_t plain_us = 0;
        int64_t job_us = 0;
        if (round % 2 == 0) {
            start(program, false, &plain_us);
            start(program, true, &job_us);
        } else {
            start(program, true, &job_us);
            start(program, false, &plain_us);
        }
        plain.push_back(plain_us);
        in_job.push_back(job_us);
        extra.push_back(job_us - plain_us);
    }
    put_result("plain_us", median(plain));
    put_result("job_us", median(in_job));
    put_result("job_extra_us", median(extra));
    return 0;
}
