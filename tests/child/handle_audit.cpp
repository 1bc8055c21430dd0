#include "handle_audit.hpp"

#include <gtest/gtest.h>

// The import table slots the linker made for this program (mingw's import libraries name them).
extern "C" {
extern decltype(&CloseHandle) __imp_CloseHandle;
extern decltype(&WaitForSingleObject) __imp_WaitForSingleObject;
extern decltype(&TerminateProcess) __imp_TerminateProcess;
extern decltype(&GetExitCodeProcess) __imp_GetExitCodeProcess;
extern decltype(&CreateProcessW) __imp_CreateProcessW;
extern decltype(&DuplicateHandle) __imp_DuplicateHandle;
extern decltype(&CreateJobObjectW) __imp_CreateJobObjectW;
}

namespace {

struct Tracked {
    HANDLE handle;
    int closes;
    int uses_after_close;
};

constexpr int tracked_capacity = 16;
Tracked tracked[tracked_capacity];
int tracked_count = 0;
bool auditing = false;
SRWLOCK audit_lock = SRWLOCK_INIT;

decltype(&CloseHandle) real_close_handle;
decltype(&WaitForSingleObject) real_wait_for_single_object;
decltype(&TerminateProcess) real_terminate_process;
decltype(&GetExitCodeProcess) real_get_exit_code_process;
decltype(&CreateProcessW) real_create_process;
decltype(&DuplicateHandle) real_duplicate_handle;
decltype(&CreateJobObjectW) real_create_job_object;

// The latest entry for the handle: a value may come back after a close.
Tracked* find(HANDLE handle) {
    for (int at = tracked_count - 1; at >= 0; --at) {
        if (tracked[at].handle == handle) {
            return &tracked[at];
        }
    }
    return nullptr;
}

void add(HANDLE handle) {
    AcquireSRWLockExclusive(&audit_lock);
    if (auditing && tracked_count < tracked_capacity) {
        tracked[tracked_count++] = {handle, 0, 0};
    }
    ReleaseSRWLockExclusive(&audit_lock);
}

void note_use(HANDLE handle) {
    AcquireSRWLockExclusive(&audit_lock);
    if (Tracked* entry = auditing ? find(handle) : nullptr; entry != nullptr && entry->closes > 0) {
        ++entry->uses_after_close;
    }
    ReleaseSRWLockExclusive(&audit_lock);
}

BOOL WINAPI audited_close_handle(HANDLE handle) {
    // Counted before the real close, so that a use racing with it is seen as late, not early.
    AcquireSRWLockExclusive(&audit_lock);
    if (Tracked* entry = auditing ? find(handle) : nullptr; entry != nullptr) {
        ++entry->closes;
    }
    ReleaseSRWLockExclusive(&audit_lock);
    return real_close_handle(handle);
}

DWORD WINAPI audited_wait_for_single_object(HANDLE handle, DWORD timeout) {
    note_use(handle);
    DWORD result = real_wait_for_single_object(handle, timeout);
    return result;
}

BOOL WINAPI audited_terminate_process(HANDLE handle, UINT code) {
    note_use(handle);
    return real_terminate_process(handle, code);
}

BOOL WINAPI audited_get_exit_code_process(HANDLE handle, DWORD* code) {
    note_use(handle);
    return real_get_exit_code_process(handle, code);
}

BOOL WINAPI audited_create_process(const wchar_t* application, wchar_t* command_line,
                                   SECURITY_ATTRIBUTES* process_attributes,
                                   SECURITY_ATTRIBUTES* thread_attributes, BOOL inherit, DWORD flags,
                                   void* environment, const wchar_t* directory, STARTUPINFOW* startup,
                                   PROCESS_INFORMATION* information) {
    BOOL created = real_create_process(application, command_line, process_attributes, thread_attributes,
                                       inherit, flags, environment, directory, startup, information);
    if (created) {
        add(information->hProcess);
        add(information->hThread);
    }
    return created;
}

BOOL WINAPI audited_duplicate_handle(HANDLE source_process, HANDLE source, HANDLE target_process,
                                     HANDLE* target, DWORD access, BOOL inherit, DWORD options) {
    BOOL duplicated =
        real_duplicate_handle(source_process, source, target_process, target, access, inherit, options);
    if (duplicated) {
        add(*target);
    }
    return duplicated;
}

HANDLE WINAPI audited_create_job_object(SECURITY_ATTRIBUTES* attributes, const wchar_t* name) {
    HANDLE job = real_create_job_object(attributes, name);
    if (job != nullptr) {
        add(job);
    }
    return job;
}

template <typename Function> void replace(Function* slot, Function replacement, Function* saved) {
    DWORD old_protection = 0;
    ASSERT_TRUE(VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old_protection));
    *saved = *slot;
    *slot = replacement;
    VirtualProtect(slot, sizeof *slot, old_protection, &old_protection);
}

} // namespace

void install_handle_audit() {
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    replace(&__imp_CloseHandle, &audited_close_handle, &real_close_handle);
    replace(&__imp_WaitForSingleObject, &audited_wait_for_single_object, &real_wait_for_single_object);
    replace(&__imp_TerminateProcess, &audited_terminate_process, &real_terminate_process);
    replace(&__imp_GetExitCodeProcess, &audited_get_exit_code_process, &real_get_exit_code_process);
    replace(&__imp_CreateProcessW, &audited_create_process, &real_create_process);
    replace(&__imp_DuplicateHandle, &audited_duplicate_handle, &real_duplicate_handle);
    replace(&__imp_CreateJobObjectW, &audited_create_job_object, &real_create_job_object);
}

void begin_handle_audit() {
    AcquireSRWLockExclusive(&audit_lock);
    tracked_count = 0;
    auditing = true;
    ReleaseSRWLockExclusive(&audit_lock);
}

void track_handle(HANDLE handle) {
    add(handle);
}

HandleAuditResult end_handle_audit() {
    HandleAuditResult result;
    AcquireSRWLockExclusive(&audit_lock);
    auditing = false;
    for (int at = 0; at < tracked_count; ++at) {
        ++result.tracked;
        if (tracked[at].closes == 1) {
            ++result.closed_once;
        } else if (tracked[at].closes == 0) {
            ++result.never_closed;
        } else {
            ++result.closed_again;
        }
        result.used_after_close += tracked[at].uses_after_close;
    }
    ReleaseSRWLockExclusive(&audit_lock);
    return result;
}
