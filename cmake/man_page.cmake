# Makes quorin-pack.1 with help2man from the packer's --help and --version, and
# a COMMANDS section from each command's --help. Run at build time:
#   cmake -DPACKER=<quorin-pack> -DHELP2MAN=<help2man> -DOUTPUT=<file.1> -P man_page.cmake
# Runs the packer and writes OUTPUT and OUTPUT.include.
cmake_minimum_required(VERSION 3.20)

function(run_packer out)
  execute_process(COMMAND "${PACKER}" ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE code)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "man page: '${PACKER} ${ARGN}' exited with ${code}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Text as roff: backslashes and minus signs escaped, no line starting with a
# control character. Square brackets and semicolons are kept out of the way of
# CMake's list splitting as @LB@, @RB@, @SC@ until the end.
function(to_roff out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REPLACE "[" "@LB@" text "${text}")
  string(REPLACE "]" "@RB@" text "${text}")
  string(REPLACE ";" "@SC@" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(no_control_start out line)
  if(line MATCHES "^[.']")
    set(line "\\&${line}")
  endif()
  set(${out} "${line}" PARENT_SCOPE)
endfunction()

# One command's --help as a subsection: the usage lines unfilled, the summary,
# then one tagged paragraph per option. The layout read is the packer's:
#   "Usage: quorin-pack ...", "  or:  quorin-pack ...", the summary, "Options:",
#   "  -n, --name VALUE   text" or "      --name VALUE   text" (or the name
#   alone, the text on the next lines),
#   continuation lines indented further, "Exit status: ..." (in the main part).
function(command_section out command text)
  to_roff(text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(roff ".SS \"${command}\"\n.nf\n")
  set(part usage)
  foreach(line IN LISTS lines)
    if(part STREQUAL "usage")
      if(line MATCHES "^Usage: (.*)$")
        string(APPEND roff "${CMAKE_MATCH_1}\n")
      elseif(line MATCHES "^  or:  (.*)$")
        string(APPEND roff "${CMAKE_MATCH_1}\n")
      else()
        string(APPEND roff ".fi\n.PP\n")
        set(part summary)
      endif()
    endif()
    if(part STREQUAL "summary")
      if(line STREQUAL "Options:")
        set(part options)
      elseif(NOT line STREQUAL "")
        no_control_start(line "${line}")
        string(APPEND roff "${line}\n")
      endif()
    elseif(part STREQUAL "options")
      # "  -o, --output OUT.exe  text" or "      --input DIR  text"; the
      # continuation lines stand further in.
      if(line MATCHES "^(  (\\\\-[A-Za-z0-9]), |      )(\\\\-\\\\-[^ ]+)( ([^ ]+))?( +(.*))?$")
        # A group that took no part in the match leaves its CMAKE_MATCH_<n>
        # unset until some later match sets it, and if() reads an unset
        # name as the text of the name: only quoted values compare safely.
        set(tag "\\fB${CMAKE_MATCH_3}\\fR")
        if(NOT "${CMAKE_MATCH_2}" STREQUAL "")
          set(tag "\\fB${CMAKE_MATCH_2}\\fR, ${tag}")
        endif()
        if(NOT "${CMAKE_MATCH_5}" STREQUAL "")
          string(APPEND tag " \\fI${CMAKE_MATCH_5}\\fR")
        endif()
        string(APPEND roff ".TP\n${tag}\n")
        if(NOT "${CMAKE_MATCH_7}" STREQUAL "")
          string(APPEND roff "${CMAKE_MATCH_7}\n")
        endif()
      elseif(line MATCHES "^    +(.*)$")
        no_control_start(continued "${CMAKE_MATCH_1}")
        string(APPEND roff "${continued}\n")
      elseif(line MATCHES "^Exit status:" OR line STREQUAL "")
      else()
        message(FATAL_ERROR "man page: '${command} --help' has a line of an unknown form: '${line}'")
      endif()
    endif()
  endforeach()
  string(REPLACE "@LB@" "[" roff "${roff}")
  string(REPLACE "@RB@" "]" roff "${roff}")
  string(REPLACE "@SC@" ";" roff "${roff}")
  set(${out} "${roff}" PARENT_SCOPE)
endfunction()

run_packer(general --help)
string(REGEX MATCHALL "\n  [a-z]+ " found "${general}")
set(include_text "[NAME]\nquorin-pack \\- build single-file Windows launchers\n\n[COMMANDS]\n")
foreach(entry IN LISTS found)
  string(STRIP "${entry}" command)
  run_packer(help ${command} --help)
  command_section(section ${command} "${help}")
  string(APPEND include_text "${section}")
endforeach()
if(NOT found)
  message(FATAL_ERROR "man page: no commands in '${PACKER} --help'")
endif()
string(APPEND include_text "
[SEE ALSO]
.BR wine (1),
.BR osslsigncode (1).
The README (installed with the packer) covers the launcher, the CMake
function quorin_add_launcher() and signing.
")
file(WRITE "${OUTPUT}.include" "${include_text}")

execute_process(
  COMMAND "${HELP2MAN}" --no-info --section=1 --include=${OUTPUT}.include --output=${OUTPUT} "${PACKER}"
  RESULT_VARIABLE code)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "man page: help2man exited with ${code}")
endif()
