# The build step of quorin_add_launcher(): stages the application folder as
# links (copies where the file system has none) in a fresh folder, then runs
# quorin-pack build on it. Writes the staging folder and the launcher.

#   quorin_pack_launcher(NAME <launcher> STAGE <dir> OUTPUT <exe> PACKER <quorin-pack>
#                        CHILD <file> [DIRECTORY <dir>] FILES <file>... OPTIONS <packer option>...)
# A CHILD inside DIRECTORY keeps its place; otherwise it and the FILES go to the
# top of the folder. Two inputs with the same name there are an error.

# Links "source" as stage/name; "name" must be new at the top of the folder.
function(quorin_stage_top stage name source)
  if(EXISTS "${stage}/${name}" OR IS_SYMLINK "${stage}/${name}")
    message(FATAL_ERROR "quorin_add_launcher(${launcher}): two inputs are named '${name}': "
                        "'${quorin_from_${name}}' and '${source}'")
  endif()
  file(CREATE_LINK "${source}" "${stage}/${name}" SYMBOLIC COPY_ON_ERROR)
  set(quorin_from_${name} "${source}" PARENT_SCOPE)
endfunction()

function(quorin_pack_launcher)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;STAGE;OUTPUT;PACKER;CHILD;DIRECTORY" "FILES;OPTIONS")
  set(launcher "${arg_NAME}")
  set(stage "${arg_STAGE}")
  file(REMOVE_RECURSE "${stage}")
  file(MAKE_DIRECTORY "${stage}")

  foreach(input IN ITEMS "${arg_CHILD}" ${arg_FILES})
    if(NOT EXISTS "${input}")
      message(FATAL_ERROR "quorin_add_launcher(${launcher}): '${input}' does not exist")
    elseif(IS_DIRECTORY "${input}")
      message(FATAL_ERROR "quorin_add_launcher(${launcher}): '${input}' is a folder; give folders as DIRECTORY")
    endif()
  endforeach()

  # DIRECTORY's tree: folders made, files linked one by one (the packer does
  # not enter linked folders).
  if(DEFINED arg_DIRECTORY)
    file(GLOB_RECURSE names RELATIVE "${arg_DIRECTORY}" LIST_DIRECTORIES false "${arg_DIRECTORY}/*")
    foreach(name IN LISTS names)
      cmake_path(GET name PARENT_PATH parent)
      if(NOT parent STREQUAL "")
        file(MAKE_DIRECTORY "${stage}/${parent}")
      endif()
      file(CREATE_LINK "${arg_DIRECTORY}/${name}" "${stage}/${name}" SYMBOLIC COPY_ON_ERROR)
      string(REGEX REPLACE "/.*" "" top "${name}")
      set(quorin_from_${top} "${arg_DIRECTORY}/${top}")
    endforeach()
  endif()

  set(child_inside FALSE)
  if(DEFINED arg_DIRECTORY)
    cmake_path(IS_PREFIX arg_DIRECTORY "${arg_CHILD}" NORMALIZE child_inside)
  endif()
  if(child_inside)
    cmake_path(RELATIVE_PATH arg_CHILD BASE_DIRECTORY "${arg_DIRECTORY}" OUTPUT_VARIABLE child_name)
  else()
    cmake_path(GET arg_CHILD FILENAME child_name)
    quorin_stage_top("${stage}" "${child_name}" "${arg_CHILD}")
  endif()
  # An element may be a list itself (as $<TARGET_RUNTIME_DLLS:...> gives).
  foreach(element IN LISTS arg_FILES)
    foreach(file IN LISTS element)
      cmake_path(GET file FILENAME name)
      quorin_stage_top("${stage}" "${name}" "${file}")
    endforeach()
  endforeach()

  cmake_path(GET arg_OUTPUT PARENT_PATH output_dir)
  file(MAKE_DIRECTORY "${output_dir}")
  execute_process(
    COMMAND "${arg_PACKER}" build --input "${stage}" --child "${child_name}" --output "${arg_OUTPUT}" ${arg_OPTIONS}
    RESULT_VARIABLE code)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "quorin_add_launcher(${launcher}): quorin-pack build failed (exit code ${code})")
  endif()
endfunction()
