# The packer's sources, the same for Linux and Windows but for the system
# layer (packer/platform_posix.cpp or packer/platform_windows.cpp) and main.
set(QUORIN_PACKER_SOURCES
  packer/archive_command.cpp
  packer/archive_writer.cpp
  packer/attached_problems.cpp
  packer/attached_reader.cpp
  packer/build_command.cpp
  packer/build_defaults.cpp
  packer/child_lookup.cpp
  packer/commands.cpp
  packer/default_icon.cpp
  packer/default_icon.S
  packer/exit_status.cpp
  packer/folder_imports.cpp
  packer/extract_command.cpp
  packer/generate_command.cpp
  packer/generated_source.cpp
  packer/icon.cpp
  packer/import_check.cpp
  packer/index_writer.cpp
  packer/input_tree.cpp
  packer/inspected_file.cpp
  packer/json.cpp
  packer/launcher_layout.cpp
  packer/list_command.cpp
  packer/name_clash.cpp
  packer/option_values.cpp
  packer/options.cpp
  packer/output_staging.cpp
  packer/pack_inputs.cpp
  packer/path_room.cpp
  packer/pe_image.cpp
  packer/pe_imports.cpp
  packer/pe_writer.cpp
  packer/program_info.cpp
  packer/progress.cpp
  packer/resource_section.cpp
  packer/resources.cpp
  packer/spec_check.cpp
  packer/stub_image.cpp
  packer/stub_image.S
  packer/system_dlls.cpp
  packer/user_icon.cpp
  packer/utf16.cpp
  packer/verify_command.cpp)
list(TRANSFORM QUORIN_PACKER_SOURCES PREPEND "${CMAKE_SOURCE_DIR}/")
# The launcher's default icon, carried inside the packer (default_icon.S).
set(QUORIN_DEFAULT_ICON "${CMAKE_SOURCE_DIR}/packer/default_icon.ico")
