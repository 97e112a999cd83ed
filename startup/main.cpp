// The launcher's entry point: the start-up sequence, in its order, from the
// environment to the child's exit code. The floor above every subsystem: it
// calls them, none of them calls it. Talks to the system.
#include <windows.h>

#include <cstdint>

#include "child/run.h"
#include "errors/failure_box.h"
#include "errors/fatal.h"
#include "errors/messages.h"
#include "generated/baked.h"
#include "launcher/env.h"
#include "launcher/own_image.h"
#include "launcher/state.h"
#include "launcher/wide_text.h"
#include "payload/folder_lock.h"
#include "payload/folder_record.h"
#include "payload/format.h"
#include "payload/indexed_start.h"
#include "payload/reader.h"
#include "payload/sibling_folders.h"
#include "payload/staging.h"
#include "payload/unpack.h"
#include "template/expand.h"
#include "template/per_run.h"
#include "window/progress_window.h"

// The image's own first byte: the attached data lies at an RVA from it, in a
// section the packer adds after the stub's own.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

// Whether the target folder is made for one run alone.
bool g_folder_per_run = false;

// The folders of other builds of this product go while the child runs: the
// child never waits for them. A folder made for one run has no other builds.
void remove_other_builds() {
  using namespace quorin;
  if (g_folder_per_run) return;
  payload::remove_other_builds(expansion::read_per_build(generated::kTargetDirectorySpec),
                               generated::kBaked.keep_builds, generated::kCompany, generated::kProduct);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  using namespace quorin;

  // The runtime's wide argument vector, held for QUORIN_ORIGINAL_ARGV0.
  wchar_t** argv = __wargv;

  // Keep the current directory out of the DLL search order.
  SetDllDirectoryW(L"");

  // A windowed launcher shows a failure in a box where no one would see its
  // line, titled with the product's name.
  const bool windowed = launcher::own_image_is_windowed();
  errors::set_failure_box(generated::kProduct, windowed);

  // Values remembered by a parent launcher are never reused.
  launcher::env_unset("QUORIN_ONEFILE_START");
  launcher::env_unset("QUORIN_ONEFILE_TIME_US");
  launcher::env_unset("QUORIN_ONEFILE_RANDOM");

  // Our own process id, before the first expansion reads it for PID.
  wchar_t pid[launcher::kNumberTextCap];
  launcher::process_id_text(pid);
  launcher::env_set("QUORIN_ONEFILE_PARENT", pid);

  // The target directory. A failed expansion is reported before the path is
  // resolved, so it never ends in a silent hard stop.
  if (!expansion::expand_spec(launcher::g_target_directory, generated::kTargetDirectorySpec,
                              launcher::kPathCap)) {
    errors::fail_spec(generated::kTargetDirectorySpec);
  }
  launcher::make_absolute(launcher::g_target_directory);
  const unsigned char* attached_data = reinterpret_cast<const unsigned char*>(&__ImageBase) +
                                      generated::kBaked.attached_rva;
  const std::uint64_t attached_length = generated::kBaked.attached_length;

  // A console control event ends a running child; before there is one, it
  // touches no process.
  if (!SetConsoleCtrlHandler(child::console_control_handler, TRUE)) {
    errors::fail_plain(errors::kSignalHandlerMessage);
  }

  // The attached data must start with its signature.
  if (!payload::has_signature(attached_data, attached_length)) errors::fail_plain(errors::kHeaderMessage);

  // The archive's index, when the launcher carries a sound one for its
  // attached data: every file is checked from it, and a start that finds them
  // all current decodes nothing. Otherwise unpack through the reader; the
  // first entry names the child program.
  const unsigned char* index = generated::kBaked.index_rva == 0
                                   ? nullptr
                                   : reinterpret_cast<const unsigned char*>(&__ImageBase) + generated::kBaked.index_rva;
  const bool indexed = payload::index_take(index, generated::kBaked.index_length, attached_length);

  // The target folder's lock, held from before the folder is checked until
  // the child has ended: no other launcher removes a folder in use. A fixed
  // folder that another build of this product placed loses that build's
  // files this one has not, while no one else uses it. A folder made for this
  // run alone is made now; any other that is not there yet is locked once
  // placing has made it.
  const expansion::PerRunSpec per_run = expansion::read_per_run(generated::kTargetDirectorySpec);
  g_folder_per_run = per_run.per_run;
  if (indexed && !per_run.per_run) {
    payload::remove_earlier_build(generated::kCompany, generated::kProduct, index, generated::kBaked.index_length);
  }
  payload::lock_target_folder(per_run.per_run);
  // A per-run folder's record goes in before its files, so that what a
  // killed or failed start leaves there is a later start's to remove.
  if (indexed && per_run.per_run) {
    payload::record_target_folder(generated::kCompany, generated::kProduct, index, generated::kBaked.index_length);
  }
  // Files to write: a windowed launcher's first start shows a person that
  // something happens once writing takes longer than a moment, unless it was
  // packed with --progress-window never. A console launcher (a console
  // child's) never shows one.
  const bool progress_window = generated::kBaked.progress_window != 0 && windowed;
  if (!indexed || !payload::check_files_from_index()) {
    if (progress_window) window::arm_progress_window(generated::kProduct, payload::index_data_bytes());
    if (!payload::payload_reader_open(attached_data, attached_length)) {
      errors::fail_plain(errors::kAllocationMessage);
    }
    payload::unpack_payload(progress_window ? window::show_progress_when_due : nullptr);
    payload::payload_reader_close();
  }

  // A folder that placing has just made is locked now: it holds no record
  // before this launcher writes one, so no removal could take it meanwhile.
  // Then the record of the build that owns the folder and what it placed
  // there, which a removal keeps to. Only an index names every file placed.
  payload::lock_target_folder(false);
  if (indexed) {
    payload::record_target_folder(generated::kCompany, generated::kProduct, index, generated::kBaked.index_length);
  }

  // Where the launcher lives, without a trailing backslash.
  launcher::copy_text(launcher::g_launcher_directory, launcher::kOwnPathCap, launcher::own_path());
  launcher::cut_at_last_backslash(launcher::g_launcher_directory);
  launcher::env_set("QUORIN_ONEFILE_DIRECTORY", launcher::g_launcher_directory);

  // How the launcher was called, as the runtime parsed it.
  if (argv != nullptr && argv[0] != nullptr) launcher::env_set("QUORIN_ORIGINAL_ARGV0", argv[0]);

  // Run the child and wait for it; its exit code is ours. The final stop
  // finds no child once it has been waited for.
  const unsigned long exit_code = child::run_child(remove_other_builds);
  child::stop_child();
  if (progress_window) window::close_progress_window();

  // A program moved aside while another start's child ran it goes once it
  // has ended: this run's own, and those of ended runs beside the child. A
  // folder made for this run alone goes whole just below, temporaries and all.
  if (!per_run.per_run) {
    static wchar_t child_folder[launcher::kPathCap];
    launcher::copy_text(child_folder, launcher::kPathCap, launcher::g_child_program_path);
    launcher::cut_at_last_backslash(child_folder);
    payload::remove_moved_aside(child_folder);
  }

  // A folder made for this run alone goes once its child has ended, and so
  // do the ones killed runs left beside it.
  payload::remove_per_run_folders(per_run, generated::kCompany, generated::kProduct);
  return static_cast<int>(exit_code);
}
