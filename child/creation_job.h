// The job that holds the child while it is being created. A launcher killed
// inside process creation leaves its child created and never resumed: a
// process that never runs and never ends, holding its program file, and so
// its per-run folder, for good. Created inside a job that ends its processes
// when its last handle closes, such a child dies with the launcher; once
// created, the job lets it go. Talks to the system.
#pragma once

#include <windows.h>

namespace quorin::child {

// Makes the job and names it in startup's attribute list (startup.lpAttributeList);
// false, with no job and no list, where the system makes none (Windows before
// 10 has no job list for process creation).
bool creation_job_attach(STARTUPINFOEXW& startup);

// After the creation, whether it succeeded or not: from now on the child and
// the processes it starts outlive the launcher, as any program's do (a
// launcher killed in the moment before takes a child that has only just
// begun with it). Closes the job and empties startup's attribute list.
void creation_job_release(STARTUPINFOEXW& startup);

}  // namespace quorin::child
