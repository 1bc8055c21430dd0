// The child's life bound to its launcher's: launch_host.exe stands for a launcher that is
// killed while its child runs, ends normally after its child has started one of its own, or
// runs inside a job of its caller's.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "constants/image_descriptor.hpp"
#include "probe_support.hpp"

namespace {

// Generous bounds on waits that end at once when all goes well.
constexpr DWORD ready_limit_ms = 60000;
constexpr DWORD end_limit_ms = 60000;

std::wstring unique_event_name() {
    static int counter = 0;
    return L"talvik-child-job-ready-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(counter++);
}

// The probe's process, opened from the id in its report once it is ready; null on failure.
HANDLE open_reported_process(const std::string& report, const char* item) {
    ProbeReport parsed = parse_probe_report(report);
    if (!parsed.items.contains(item)) {
        return nullptr;
    }
    DWORD id = static_cast<DWORD>(std::stoul(parsed.items[item]));
    return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
}

// A host whose child (the probe, steered by probe_options) is running and ready, and the
// child's process; the host is then terminated, as a CI time-out would end a launcher.
struct KilledHost {
    HANDLE child = nullptr;
    HostRun run;
};

KilledHost kill_host_once_child_runs(const std::wstring& probe_options) {
    KilledHost killed;
    std::wstring event_name = unique_event_name();
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, event_name.c_str());
    ScopedVariable steering(L"PROBE_OPTIONS",
                            (L"--ready-event " + event_name + L" " + probe_options).c_str());
    StartedHost host = start_launch_host(probe_path(), {});
    if (WaitForSingleObject(ready, ready_limit_ms) == WAIT_OBJECT_0) {
        killed.child = open_reported_process(read_whole_file(host.directory + L"\\out.txt"), "pid");
    }
    TerminateProcess(host.process, 1);
    killed.run = finish_launch_host(host);
    CloseHandle(ready);
    return killed;
}

TEST(ChildJob, KilledLauncherEndsItsChild) {
    KilledHost killed = kill_host_once_child_runs(L"--sleep 20000 --exit 7");
    ASSERT_NE(killed.child, nullptr) << killed.run.out;
    EXPECT_EQ(killed.run.result, "<missing>");
    uint32_t code = exit_code_after(killed.child, end_limit_ms);
    EXPECT_NE(code, ~0u) << "still running";
    EXPECT_NE(code, 7u) << "it slept to its end";
    CloseHandle(killed.child);
}

// The child outlives the host only when the image says so; then it runs to its own end,
// which comes after the host's.
TEST(ChildJob, ChildOfAnImageThatLetsItOutliveTheLauncherRunsOn) {
    std::wstring go = make_temp_directory(L"outlive") + L"\\go";
    ScopedVariable lifetime(L"LAUNCH_HOST_CHILD_LIFETIME", std::to_wstring(child_outlives_launcher).c_str());
    KilledHost killed = kill_host_once_child_runs(L"--wait-file \"" + go + L"\" --exit 7");
    ASSERT_NE(killed.child, nullptr) << killed.run.out;
    EXPECT_EQ(WaitForSingleObject(killed.child, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    write_whole_file(go, "");
    EXPECT_EQ(exit_code_after(killed.child, end_limit_ms), 7u);
    CloseHandle(killed.child);
}

// Only the child is in the job: what it starts lives on after the launcher's normal end,
// which closes the job.
TEST(ChildJob, ProcessesTheChildStartsOutliveTheLauncher) {
    std::wstring go = make_temp_directory(L"grandchild") + L"\\go";
    HostRun run = run_launch_host(
        probe_path(), {L"--start-probe", L"--quiet --wait-file \"" + go + L"\" --exit 7", L"--exit", L"3"});
    EXPECT_EQ(run.result, "exit=0x00000003 passed-on=0\n");
    HANDLE grandchild = open_reported_process(run.out, "started-pid");
    ASSERT_NE(grandchild, nullptr) << run.out;
    EXPECT_EQ(WaitForSingleObject(grandchild, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    write_whole_file(go, "");
    EXPECT_EQ(exit_code_after(grandchild, end_limit_ms), 7u);
    CloseHandle(grandchild);
}

// A launcher that a CI system runs in a job of its own (one that ends everything in it when
// it closes) still starts its child and passes its exit code on.
TEST(ChildJob, LauncherInsideAnOuterJobRunsItsChild) {
    HANDLE outer = CreateJobObjectW(nullptr, nullptr);
    ASSERT_NE(outer, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ASSERT_TRUE(SetInformationJobObject(outer, JobObjectExtendedLimitInformation, &limits, sizeof limits));
    StartedHost host = start_launch_host(probe_path(), {L"--exit", L"0xC0000005"}, 0, L"", outer);
    HostRun run = finish_launch_host(host);
    CloseHandle(outer);
    EXPECT_EQ(run.result, "exit=0xC0000005 passed-on=0\n");
    EXPECT_TRUE(parse_probe_report(run.out).complete) << run.out;
}

} // namespace
