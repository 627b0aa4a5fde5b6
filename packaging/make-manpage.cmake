# Writes the manual page of norvane-opc from the program's own help texts, so that the page never
# says anything the program does not: help2man turns `norvane-opc --help` into the page, and the
# --help text of every command it lists becomes that command's part of the COMMANDS section.
#
#   cmake -DNV_PROGRAM=<norvane-opc> -DNV_HELP2MAN=<help2man> -DNV_GZIP=<gzip>
#         -DNV_VERSION=<x.y.z> -DNV_STATIC_INCLUDE=<norvane-opc.h2m> -DNV_WORK_DIR=<dir>
#         -DNV_OUTPUT=<norvane-opc.1.gz> -P make-manpage.cmake
foreach(var NV_PROGRAM NV_HELP2MAN NV_GZIP NV_VERSION NV_STATIC_INCLUDE NV_WORK_DIR NV_OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make-manpage.cmake: ${var} is not set")
  endif()
endforeach()

# The lines of a help text as a list. CMake lists split at ';' and not between '[' and ']',
# which help texts may hold; they stand in as placeholders until the text is written.
function(nv_help_lines out text)
  string(REPLACE ";" "<nvsemicolon>" text "${text}")
  string(REPLACE "[" "<nvopen>" text "${text}")
  string(REPLACE "]" "<nvclose>" text "${text}")
  string(REPLACE "\n" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Text for roff: backslashes and hyphens as roff wants them, a leading dot or quote kept as text.
function(nv_roff out text)
  string(REPLACE "<nvsemicolon>" ";" text "${text}")
  string(REPLACE "<nvopen>" "[" text "${text}")
  string(REPLACE "<nvclose>" "]" text "${text}")
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  if(text MATCHES "^[.']")
    set(text "\\&${text}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(nv_help out)
  execute_process(COMMAND ${NV_PROGRAM} ${ARGN} --help
                  OUTPUT_VARIABLE text ERROR_VARIABLE errors RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "norvane-opc ${command} --help failed (${rc}): ${errors}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Appends one argument or option as a tagged paragraph: options in bold, arguments in italics.
function(nv_option section_var name description)
  # Every command has a help option; the page says so once, under OPTIONS.
  if(name MATCHES "^-h,--help")
    return()
  endif()
  string(REGEX MATCH "^[^ ]+" word "${name}")
  string(LENGTH "${word}" length)
  string(SUBSTRING "${name}" ${length} -1 rest)
  nv_roff(word "${word}")
  nv_roff(rest "${rest}")
  nv_roff(description "${description}")
  if(word MATCHES "^\\\\-")
    set(font B)
  else()
    set(font I)
  endif()
  set(${section_var} "${${section_var}}.TP\n\\f${font}${word}\\fR${rest}\n${description}\n" PARENT_SCOPE)
endfunction()

# The commands, as the program's own help lists them under "Subcommands:".
nv_help(main_help)
nv_help_lines(lines "${main_help}")
set(commands)
set(in_commands FALSE)
foreach(line IN LISTS lines)
  if(line MATCHES "^[A-Za-z].*:$")
    set(in_commands FALSE)
    if(line STREQUAL "Subcommands:")
      set(in_commands TRUE)
    endif()
  elseif(in_commands AND line MATCHES "^  ([a-z][a-z0-9-]*)( |$)")
    list(APPEND commands ${CMAKE_MATCH_1})
  endif()
endforeach()
if(NOT commands)
  message(FATAL_ERROR "norvane-opc --help lists no commands under \"Subcommands:\":\n${main_help}")
endif()

# One subsection per command: its summary, its usage, and its arguments and options as tagged
# paragraphs.
set(section "[COMMANDS]\n")
foreach(command IN LISTS commands)
  nv_help(help ${command})
  nv_help_lines(lines "${help}")
  string(APPEND section ".SS ${command}\n")
  # Descriptions start in one column, found from the help option every command has; a name
  # reaching into that column has its description on the next line.
  if(NOT help MATCHES "\n(  -h,--help +)[^ ]")
    message(FATAL_ERROR "norvane-opc ${command} --help has no -h,--help line:\n${help}")
  endif()
  string(LENGTH "${CMAKE_MATCH_1}" column)
  set(pending_name "")
  foreach(line IN LISTS lines)
    if(line STREQUAL "")
      continue()
    elseif(line MATCHES "^Usage: (.*)$")
      nv_roff(usage "${CMAKE_MATCH_1}")
      string(APPEND section ".PP\nUsage: \\fB${usage}\\fR\n")
    elseif(line MATCHES "^([A-Za-z][^:]*):$")
      string(APPEND section ".PP\n${CMAKE_MATCH_1}:\n")
    elseif(line MATCHES "^  [^ ]")
      string(LENGTH "${line}" length)
      string(SUBSTRING "${line}" 0 ${column} name)
      if(length GREATER column AND name MATCHES " $")
        string(SUBSTRING "${line}" ${column} -1 description)
        string(STRIP "${name}" name)
        nv_option(section "${name}" "${description}")
      else()
        string(STRIP "${line}" pending_name)
      endif()
    elseif(line MATCHES "^   +([^ ].*)$" AND NOT pending_name STREQUAL "")
      nv_option(section "${pending_name}" "${CMAKE_MATCH_1}")
      set(pending_name "")
    else()
      nv_roff(text "${line}")
      string(APPEND section "${text}\n")
    endif()
  endforeach()
  if(NOT pending_name STREQUAL "")
    message(FATAL_ERROR "norvane-opc ${command} --help: no description after \"${pending_name}\"")
  endif()
endforeach()

get_filename_component(_output_dir ${NV_OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${NV_WORK_DIR} ${_output_dir})
file(WRITE ${NV_WORK_DIR}/commands.h2m "${section}")
set(page ${NV_WORK_DIR}/norvane-opc.1)
execute_process(COMMAND ${NV_HELP2MAN} --no-info --no-discard-stderr
                        --version-string=${NV_VERSION}
                        --include=${NV_STATIC_INCLUDE} --include=${NV_WORK_DIR}/commands.h2m
                        --output=${page} ${NV_PROGRAM}
                RESULT_VARIABLE rc ERROR_VARIABLE errors)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man failed (${rc}): ${errors}")
endif()
# -n: no name or time stamp in the archive, so the same page gives the same bytes.
execute_process(COMMAND ${NV_GZIP} -9nc ${page} OUTPUT_FILE ${NV_OUTPUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip failed (${rc}) on ${page}")
endif()
