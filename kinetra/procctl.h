// Process and thread control by ID: terminate, suspend and resume, priority
// class and working-set limits.
//
// The system does not report whether a process was suspended, so every process
// and thread suspended here is recorded in the current user's registry with its
// creation time. The record outlives the program; it counts only while its ID
// still names the same object (same creation time), so an ended object or a
// reused ID reads as not suspended.
#pragma once

#include <windows.h>

#include "kinetra/kinetraapi.h"

// Where the records live, under HKEY_CURRENT_USER. Value name: the ID ("%d");
// data: REG_BINARY, the 8-byte creation time (low half first).
#define PRM_SUSPENDED_PROCESSES_KEY L"Software\\Quenby Software\\Runwarden\\SuspendedProcesses"
#define PRM_SUSPENDED_THREADS_KEY L"Software\\Quenby Software\\Runwarden\\SuspendedThreads"

// Exit code of processes and threads ended here.
constexpr DWORD PRM_TERMINATE_EXIT_CODE = 1223;
// Both working-set limits set to this remove as many pages as possible.
constexpr SIZE_T PRM_PAGE_OUT = static_cast<SIZE_T>(-1);

KINETRA_API BOOL PRM_TerminateProcess(DWORD pid);
// Suspends every thread; false for this process itself and for one already
// recorded. Either all threads are suspended and the process is recorded, or
// none stays suspended.
KINETRA_API BOOL PRM_SuspendProcess(DWORD pid);
// Resumes every thread once and removes the record; false for this process and
// for one without a valid record.
KINETRA_API BOOL PRM_ResumeProcess(DWORD pid);
KINETRA_API BOOL PRM_IsProcessSuspended(DWORD pid);
// Removes stale records of both keys, then resumes every recorded process. False
// when a recorded process could not be resumed.
KINETRA_API BOOL PRM_ResumeAll();

KINETRA_API BOOL PRM_SetProcessPriority(DWORD pid, DWORD priorityClass);
KINETRA_API BOOL PRM_SetProcessWorkingSetSize(DWORD pid, SIZE_T minimum, SIZE_T maximum);
// Either out pointer may be null.
KINETRA_API BOOL PRM_GetProcessWorkingSetSize(DWORD pid, SIZE_T* minimum, SIZE_T* maximum);

KINETRA_API BOOL PRM_TerminateThread(DWORD tid);
// False for the calling thread and for one already recorded.
KINETRA_API BOOL PRM_SuspendThread(DWORD tid);
// Resumes on a worker thread, waiting at most a second for it: true when the
// thread was recorded and is resumed (its record removed), false otherwise or
// when the worker did not finish in time.
KINETRA_API BOOL PRM_ResumeThread(DWORD tid);
KINETRA_API BOOL PRM_IsThreadSuspended(DWORD tid);

namespace kinetra {
// Seam: while set, suspending a process suspends each of its threads through fn
// (same contract as SuspendThread) instead. Returns the previous one (null: none).
using SUSPEND_THREAD_FN = DWORD(WINAPI*)(HANDLE thread);
KINETRA_API SUSPEND_THREAD_FN SetProcessThreadSuspendOverride(SUSPEND_THREAD_FN fn);
}  // namespace kinetra
