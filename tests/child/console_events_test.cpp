// The console handler: which events it acts on, the grace period, and the hand-over of the
// shared child handle between the main thread and racing handler calls.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "child/console_events.hpp"
#include "child/grace_period.hpp"
#include "child/launch.hpp"
#include "handle_audit.hpp"
#include "probe_support.hpp"
#include "tests/support/grace_period_seam.hpp"

namespace {

HANDLE duplicate(HANDLE handle) {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
    return copy;
}

// Shortens the grace period while it lives.
struct ScopedGracePeriod {
    explicit ScopedGracePeriod(DWORD ms) { grace_period_in_tests_ms = ms; }
    ~ScopedGracePeriod() { grace_period_in_tests_ms = child_grace_period_ms; }
};

const DWORD acted_on_events[] = {CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT,
                                 CTRL_SHUTDOWN_EVENT};
const DWORD ignored_events[] = {3, 4, 7, 8, 0xFFFFFFFFu};

TEST(ConsoleEvents, WithNoChildNothingHappens) {
    ASSERT_EQ(child_process_handle, nullptr);
    for (DWORD event_type = 0; event_type <= 8; ++event_type) {
        EXPECT_EQ(on_console_event(event_type), FALSE);
        EXPECT_EQ(child_process_handle, nullptr);
    }
    finish_child();
    EXPECT_EQ(child_process_handle, nullptr);
}

// Other event types leave the child, and the handle, alone: no wait, no close.
TEST(ConsoleEvents, OtherEventTypesAreIgnored) {
    HANDLE child = start_probe(L"--quiet --sleep 60000");
    ASSERT_NE(child, nullptr);
    HANDLE shared = duplicate(child);
    child_process_handle = shared;
    for (DWORD event_type : ignored_events) {
        EXPECT_EQ(on_console_event(event_type), FALSE);
        EXPECT_EQ(child_process_handle, shared) << event_type;
        EXPECT_EQ(WaitForSingleObject(child, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << event_type;
    }
    child_process_handle = nullptr;
    CloseHandle(shared);
    TerminateProcess(child, 1);
    CloseHandle(child);
}

// Each acted-on event takes the handle, closes it exactly once and leaves the variable
// empty; a child that has already ended keeps its exit code.
TEST(ConsoleEvents, ActedOnEventsTakeAndCloseTheHandle) {
    install_handle_audit();
    HANDLE child = start_probe(L"--quiet --exit 5");
    ASSERT_NE(child, nullptr);
    ASSERT_EQ(exit_code_after(child, 60000), 5u);
    for (DWORD event_type : acted_on_events) {
        begin_handle_audit();
        child_process_handle = duplicate(child);
        EXPECT_EQ(on_console_event(event_type), FALSE);
        EXPECT_EQ(child_process_handle, nullptr);
        HandleAuditResult audit = end_handle_audit();
        EXPECT_EQ(audit.tracked, 1) << event_type;
        EXPECT_EQ(audit.closed_once, 1) << event_type;
        EXPECT_EQ(audit.used_after_close, 0) << event_type;
    }
    EXPECT_EQ(exit_code_after(child, 0), 5u);
    CloseHandle(child);
}

TEST(ConsoleEvents, ChildEndingWithinTheGracePeriodKeepsItsExitCode) {
    HANDLE child = start_probe(L"--quiet --sleep 300 --exit 7");
    ASSERT_NE(child, nullptr);
    child_process_handle = duplicate(child);
    EXPECT_EQ(on_console_event(CTRL_C_EVENT), FALSE);
    EXPECT_EQ(child_process_handle, nullptr);
    EXPECT_EQ(exit_code_after(child, 0), 7u);
    CloseHandle(child);
}

TEST(ConsoleEvents, ChildOutlivingTheGracePeriodIsTerminatedWithZero) {
    ScopedGracePeriod grace(200);
    HANDLE child = start_probe(L"--quiet --ignore-console-events --sleep 60000 --exit 7");
    ASSERT_NE(child, nullptr);
    child_process_handle = duplicate(child);
    EXPECT_EQ(on_console_event(CTRL_BREAK_EVENT), FALSE);
    EXPECT_EQ(child_process_handle, nullptr);
    EXPECT_EQ(exit_code_after(child, 0), 0u);
    CloseHandle(child);
}

// The one case with the real 5,000 ms: the child is still running when it ends.
TEST(ConsoleEvents, RealGracePeriodIsFiveSeconds) {
    ASSERT_EQ(console_event_grace_ms(), 5000u);
    HANDLE child = start_probe(L"--quiet --sleep 60000 --exit 7");
    ASSERT_NE(child, nullptr);
    child_process_handle = duplicate(child);
    ULONGLONG started = GetTickCount64();
    EXPECT_EQ(on_console_event(CTRL_CLOSE_EVENT), FALSE);
    // The tick count moves in steps of up to 16 ms.
    EXPECT_GE(GetTickCount64() - started, 5000u - 32u);
    EXPECT_EQ(exit_code_after(child, 0), 0u);
    CloseHandle(child);
}

// Handler threads kept for a whole test: each round they wait for the round number to move
// on, make one handler call and count themselves done. Creating threads per round would make
// the rounds too slow to run many.
struct HandlerRounds {
    std::atomic<int> round{0};
    std::atomic<int> done{0};
    std::atomic<bool> stop{false};
};

struct HandlerWorker {
    HandlerRounds* rounds;
    DWORD event_type;
};

DWORD WINAPI run_handler_worker(void* parameter) {
    HandlerWorker* worker = static_cast<HandlerWorker*>(parameter);
    int seen = 0;
    for (;;) {
        int round = worker->rounds->round.load();
        if (round == seen) {
            if (worker->rounds->stop.load()) {
                return 0;
            }
            YieldProcessor();
            continue;
        }
        seen = round;
        on_console_event(worker->event_type);
        ++worker->rounds->done;
    }
}

// Two handler calls race with the main thread's release of the shared handle: whoever takes
// it closes it, once, and nobody touches it after.
TEST(ConsoleEvents, RacingHandlersAndFinalReleaseCloseTheHandleOnce) {
    install_handle_audit();
    HANDLE child = start_probe(L"--quiet --exit 4");
    ASSERT_NE(child, nullptr);
    ASSERT_EQ(exit_code_after(child, 60000), 4u);
    HandlerRounds rounds;
    HandlerWorker workers[] = {{&rounds, CTRL_C_EVENT}, {&rounds, CTRL_CLOSE_EVENT}};
    HANDLE threads[] = {CreateThread(nullptr, 0, run_handler_worker, &workers[0], 0, nullptr),
                        CreateThread(nullptr, 0, run_handler_worker, &workers[1], 0, nullptr)};
    constexpr int iterations = 3000;
    for (int iteration = 0; iteration < iterations; ++iteration) {
        begin_handle_audit();
        child_process_handle = duplicate(child);
        rounds.done = 0;
        ++rounds.round;
        finish_child();
        while (rounds.done.load() < 2) {
            SwitchToThread();
        }
        HandleAuditResult audit = end_handle_audit();
        ASSERT_EQ(audit.tracked, 1) << iteration;
        ASSERT_EQ(audit.closed_again, 0) << iteration;
        ASSERT_EQ(audit.closed_once, 1) << iteration;
        ASSERT_EQ(audit.used_after_close, 0) << iteration;
        ASSERT_EQ(child_process_handle, nullptr) << iteration;
    }
    rounds.stop = true;
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);
    CloseHandle(child);
}

// A handler call as soon as the launch has shared the handle (or the launch is over).
struct LaunchRacer {
    DWORD event_type;
    std::atomic<bool>* launch_done;
};

DWORD WINAPI run_launch_racer(void* parameter) {
    LaunchRacer* racer = static_cast<LaunchRacer*>(parameter);
    while (__atomic_load_n(&child_process_handle, __ATOMIC_ACQUIRE) == nullptr &&
           !racer->launch_done->load()) {
        YieldProcessor();
    }
    on_console_event(racer->event_type);
    return 0;
}

// The same race around a whole launch: the handlers fire as soon as the handle is shared,
// while the main thread waits, reads the exit code and releases it. Every handle of the
// launch (the process, its thread, the shared copy, the child's job) is closed once and not
// used after; the child's own exit code comes back.
TEST(ConsoleEvents, RacingHandlersDuringALaunchCloseEveryHandleOnce) {
    install_handle_audit();
    ScopedVariable steering(L"PROBE_OPTIONS", L"--quiet --exit 5");
    constexpr int iterations = 20;
    for (int iteration = 0; iteration < iterations; ++iteration) {
        std::atomic<bool> launch_done{false};
        LaunchRacer racers[] = {{CTRL_C_EVENT, &launch_done}, {CTRL_BREAK_EVENT, &launch_done}};
        begin_handle_audit();
        HANDLE threads[] = {CreateThread(nullptr, 0, run_launch_racer, &racers[0], 0, nullptr),
                            CreateThread(nullptr, 0, run_launch_racer, &racers[1], 0, nullptr)};
        uint32_t code = launch_child(probe_path().c_str());
        launch_done = true;
        WaitForMultipleObjects(2, threads, TRUE, INFINITE);
        HandleAuditResult audit = end_handle_audit();
        CloseHandle(threads[0]);
        CloseHandle(threads[1]);
        ASSERT_EQ(code, 5u) << iteration;
        // The process and thread handles of the creation and the job at least; a shared copy,
        // if any.
        ASSERT_GE(audit.tracked, 3) << iteration;
        ASSERT_EQ(audit.closed_once, audit.tracked) << iteration;
        ASSERT_EQ(audit.used_after_close, 0) << iteration;
        ASSERT_EQ(child_process_handle, nullptr) << iteration;
    }
}

// Real console events, as far as Wine delivers them: it does for Ctrl+C sent to every
// process of a console (the probe sends it from inside the host's new console); a process
// with no console cannot send or receive any.
TEST(ConsoleEvents, RealCtrlCReachesTheChildWhichEndsWithinTheGracePeriod) {
    ScopedVariable steering(L"PROBE_OPTIONS", L"--quiet --console-event-exit 9 --generate-console-event 0 "
                                              L"--sleep 60000");
    ScopedVariable events(L"LAUNCH_HOST_EVENTS", L"1");
    HostRun run = run_launch_host(probe_path(), {}, CREATE_NEW_CONSOLE);
    EXPECT_EQ(run.status, 0u);
    EXPECT_EQ(run.result, "exit=0x00000009 passed-on=1\n");
}

TEST(ConsoleEvents, RealCtrlCIgnoredByTheChildEndsItAfterTheGracePeriod) {
    ScopedVariable steering(L"PROBE_OPTIONS", L"--quiet --ignore-console-events --generate-console-event 0 "
                                              L"--sleep 60000 --exit 7");
    ScopedVariable events(L"LAUNCH_HOST_EVENTS", L"1");
    ScopedVariable grace(L"LAUNCH_HOST_GRACE_MS", L"300");
    HostRun run = run_launch_host(probe_path(), {}, CREATE_NEW_CONSOLE);
    EXPECT_EQ(run.status, 0u);
    EXPECT_EQ(run.result, "exit=0x00000000 passed-on=1\n");
}

} // namespace
