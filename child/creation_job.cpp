// The job that holds the child while it is being created. Talks to the system.
#include "child/creation_job.h"

namespace quorin::child {

namespace {

// An attribute list of one entry takes 48 bytes on x64; the system says how
// much it wants, and more than this room means no job.
alignas(16) unsigned char g_attribute_room[256];
HANDLE g_job = nullptr;

// Breakaway stays allowed throughout: a child that starts a process outside
// its job (CREATE_BREAKAWAY_FROM_JOB) may, as it may outside this one.
bool limit_job(DWORD flags) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK | flags;
  return SetInformationJobObject(g_job, JobObjectExtendedLimitInformation, &limits, sizeof limits) != FALSE;
}

}  // namespace

bool creation_job_attach(STARTUPINFOEXW& startup) {
  startup.lpAttributeList = nullptr;
  g_job = CreateJobObjectW(nullptr, nullptr);
  if (g_job == nullptr) return false;
  // InitializeProcThreadAttributeList fails for the size query by design:
  // only the size it writes counts.
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(g_attribute_room);
  if (size == 0 || size > sizeof g_attribute_room || !limit_job(JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE) ||
      !InitializeProcThreadAttributeList(list, 1, 0, &size)) {
    CloseHandle(g_job);
    g_job = nullptr;
    return false;
  }
  if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_JOB_LIST, &g_job, sizeof g_job, nullptr, nullptr)) {
    DeleteProcThreadAttributeList(list);
    CloseHandle(g_job);
    g_job = nullptr;
    return false;
  }
  startup.lpAttributeList = list;
  return true;
}

void creation_job_release(STARTUPINFOEXW& startup) {
  if (startup.lpAttributeList != nullptr) DeleteProcThreadAttributeList(startup.lpAttributeList);
  startup.lpAttributeList = nullptr;
  if (g_job == nullptr) return;
  // Closing the job while it still ends its processes would end the child.
  // The system refuses to change a job it has just made only when something
  // is badly wrong; the handle then stays open until the launcher ends, and
  // the child's processes end with it.
  if (limit_job(0)) CloseHandle(g_job);
  g_job = nullptr;
}

}  // namespace quorin::child
