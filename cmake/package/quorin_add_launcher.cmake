# quorin_add_launcher(): a target that packs a program, its DLLs and its data
# into one launcher exe at build time, after the targets it names are built.
# At configure time it only reads DIRECTORY's file list; the packing step is
# quorin_pack_launcher.cmake, run by a generated script.

#   quorin_add_launcher(<name> CHILD <target or file>
#     [DIRECTORY <dir>] [FILES <target or file>...] [OUTPUT <file>]
#     [SPEC <text>] [COMPANY <text>] [PRODUCT <text>] [VERSION <x.y.z>] [ICON <file.ico>]
#     [ORIGINAL_FILENAME <text>] [INTERNAL_NAME <text>] [FILE_DESCRIPTION <text>]
#     [LEVEL <n>] [THREADS <n>] [KEEP_BUILDS <n|all>] [PROGRESS_WINDOW <auto|never>])
#
# The application folder is staged under ${CMAKE_CURRENT_BINARY_DIR}/quorin/<name>
# as links: DIRECTORY's tree, the CHILD and the FILES beside it (a CHILD inside
# DIRECTORY keeps its place there). Relative paths are taken from the current
# source folder, a relative OUTPUT from the current binary folder (default
# <name>.exe there). Arguments may hold generator expressions.
if(CMAKE_VERSION VERSION_LESS 3.20)
  message(FATAL_ERROR "quorin_add_launcher() needs CMake 3.20 or newer (this is ${CMAKE_VERSION})")
endif()

# A value as a bracket argument, which nothing in it can end.
function(quorin_launcher_bracket out value)
  set(equals "=")
  while(value MATCHES "]${equals}]")
    string(APPEND equals "=")
  endwhile()
  set(${out} "[${equals}[${value}]${equals}]" PARENT_SCOPE)
endfunction()

# What an input names: a target (its file, built first; "types" are the target
# types it may have), a generator expression (taken as is) or a file (made
# absolute from the current source folder).
function(quorin_launcher_input out_path out_depends launcher role value types)
  if(TARGET "${value}")
    get_target_property(type "${value}" TYPE)
    if(NOT type IN_LIST types)
      message(FATAL_ERROR "quorin_add_launcher(${launcher}): ${role} '${value}' is a ${type} target; "
                          "give a target of type ${types} or a file")
    endif()
    set(${out_path} "$<TARGET_FILE:${value}>" PARENT_SCOPE)
    set(${out_depends} "${value}" PARENT_SCOPE)
  elseif(value MATCHES "\\$<")
    set(${out_path} "${value}" PARENT_SCOPE)
    set(${out_depends} "${value}" PARENT_SCOPE)
  else()
    cmake_path(ABSOLUTE_PATH value BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE OUTPUT_VARIABLE path)
    if(IS_DIRECTORY "${path}")
      message(FATAL_ERROR "quorin_add_launcher(${launcher}): ${role} '${path}' is a folder; give folders as DIRECTORY")
    endif()
    set(${out_path} "${path}" PARENT_SCOPE)
    set(${out_depends} "${path}" PARENT_SCOPE)
  endif()
endfunction()

function(quorin_add_launcher name)
  set(text_options SPEC COMPANY PRODUCT VERSION ORIGINAL_FILENAME INTERNAL_NAME FILE_DESCRIPTION LEVEL THREADS
                   KEEP_BUILDS PROGRESS_WINDOW)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "CHILD;DIRECTORY;OUTPUT;ICON;${text_options}" "FILES")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "quorin_add_launcher(${name}): unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(arg_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "quorin_add_launcher(${name}): no value for ${arg_KEYWORDS_MISSING_VALUES}")
  endif()
  if(NOT DEFINED arg_CHILD)
    message(FATAL_ERROR "quorin_add_launcher(${name}): CHILD <target or file> is required")
  endif()
  if(NOT TARGET quorin::quorin-pack)
    message(FATAL_ERROR "quorin_add_launcher(${name}): no quorin::quorin-pack here; "
                        "call find_package(quorin) in this folder or a parent")
  endif()

  set(base "${CMAKE_CURRENT_BINARY_DIR}/quorin/${name}")
  set(config "$<$<BOOL:$<CONFIG>>:-$<CONFIG>>")
  set(script "${base}/pack${config}.cmake")
  set(output "${CMAKE_CURRENT_BINARY_DIR}/${name}.exe")
  if(DEFINED arg_OUTPUT)
    cmake_path(ABSOLUTE_PATH arg_OUTPUT BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}" NORMALIZE OUTPUT_VARIABLE output)
  endif()
  cmake_path(GET output FILENAME output_name)
  set(value_NAME "${name}")
  set(value_STAGE "${base}/input${config}")
  set(value_OUTPUT "${output}")
  set(value_PACKER "$<TARGET_FILE:quorin::quorin-pack>")

  set(depends "$<TARGET_FILE:quorin::quorin-pack>"
              "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/quorin_pack_launcher.cmake" "${script}")
  quorin_launcher_input(value_CHILD child_depends ${name} CHILD "${arg_CHILD}" EXECUTABLE)
  list(APPEND depends "${child_depends}")
  set(files "")
  foreach(file IN LISTS arg_FILES)
    quorin_launcher_input(path file_depends ${name} FILES "${file}" "SHARED_LIBRARY;MODULE_LIBRARY;EXECUTABLE")
    list(APPEND files "${path}")
    list(APPEND depends "${file_depends}")
  endforeach()

  # DIRECTORY's files as found now, and again on every build (CONFIGURE_DEPENDS);
  # their list goes into the script, so an added or removed file repacks too.
  set(listing "")
  if(DEFINED arg_DIRECTORY)
    cmake_path(ABSOLUTE_PATH arg_DIRECTORY BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE
               OUTPUT_VARIABLE value_DIRECTORY)
    if(NOT IS_DIRECTORY "${value_DIRECTORY}")
      message(FATAL_ERROR "quorin_add_launcher(${name}): DIRECTORY '${value_DIRECTORY}' is not a folder")
    endif()
    file(GLOB_RECURSE directory_files LIST_DIRECTORIES false CONFIGURE_DEPENDS "${value_DIRECTORY}/*")
    list(APPEND depends ${directory_files})
    foreach(file IN LISTS directory_files)
      string(APPEND listing "#   ${file}\n")
    endforeach()
  endif()

  set(options "")
  if(DEFINED arg_ICON)
    quorin_launcher_input(icon icon_depends ${name} ICON "${arg_ICON}" "")
    list(APPEND depends "${icon_depends}")
    quorin_launcher_bracket(quoted "${icon}")
    string(APPEND options "  --icon ${quoted}\n")
  endif()
  # The file-name texts default to this launcher's names, not the packer's.
  if(NOT DEFINED arg_ORIGINAL_FILENAME)
    set(arg_ORIGINAL_FILENAME "${output_name}")
  endif()
  if(NOT DEFINED arg_INTERNAL_NAME)
    set(arg_INTERNAL_NAME "${name}")
  endif()
  if(NOT DEFINED arg_FILE_DESCRIPTION)
    set(arg_FILE_DESCRIPTION "${name}")
    if(DEFINED arg_PRODUCT)
      set(arg_FILE_DESCRIPTION "${arg_PRODUCT}")
    endif()
  endif()
  foreach(option IN LISTS text_options)
    if(DEFINED arg_${option})
      string(TOLOWER "--${option}" flag)
      string(REPLACE "_" "-" flag "${flag}")
      quorin_launcher_bracket(quoted "${arg_${option}}")
      string(APPEND options "  ${flag} ${quoted}\n")
    endif()
  endforeach()

  set(arguments "")
  foreach(field NAME STAGE OUTPUT PACKER CHILD DIRECTORY)
    if(DEFINED value_${field})
      quorin_launcher_bracket(quoted "${value_${field}}")
      string(APPEND arguments "  ${field} ${quoted}\n")
    endif()
  endforeach()
  string(APPEND arguments "  FILES\n")
  foreach(file IN LISTS files)
    quorin_launcher_bracket(quoted "${file}")
    string(APPEND arguments "    ${quoted}\n")
  endforeach()
  quorin_launcher_bracket(helper "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/quorin_pack_launcher.cmake")

  file(GENERATE OUTPUT "${script}" CONTENT
"# Made by quorin_add_launcher(${name}) when configuring; not edited by hand.
cmake_minimum_required(VERSION 3.20)
include(${helper})
quorin_pack_launcher(
${arguments}  OPTIONS
${options})
# The files of DIRECTORY when configured:
${listing}")

  add_custom_command(
    OUTPUT "${output}"
    COMMAND "${CMAKE_COMMAND}" -P "${script}"
    DEPENDS ${depends}
    COMMENT "Packing the launcher ${output_name}"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS "${output}")
endfunction()
