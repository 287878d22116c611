# SPDX-License-Identifier: ISC
# A word list of some groups of the shipped list, for a preset of zendrik
# live: the lines of each group named, in the list's order.
#   cmake -DLIST=profanity.txt -DGROUPS=Strong,Slurs -DOUTPUT=words.txt -P word_groups.cmake
# A group starts at its heading, "# Name: what it holds", and ends at the
# next heading; its other comment lines are not words.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "," ";" wanted "${GROUPS}")
string(REPLACE "," ", " named "${GROUPS}")
file(STRINGS "${LIST}" lines)
get_filename_component(list_name "${LIST}" NAME)
set(words "# SPDX-License-Identifier: ISC\n# Generated from ${list_name}: the groups ${named}.\n")
set(group "")
set(found "")
foreach(line IN LISTS lines)
  if(line MATCHES "^# ([A-Za-z ]+): ")
    set(group "${CMAKE_MATCH_1}")
    if(group IN_LIST wanted)
      list(APPEND found "${group}")
      string(APPEND words "\n# ${group}\n")
    endif()
  elseif(group IN_LIST wanted AND NOT line MATCHES "^#" AND NOT line STREQUAL "")
    string(APPEND words "${line}\n")
  endif()
endforeach()
foreach(group IN LISTS wanted)
  if(NOT group IN_LIST found)
    message(FATAL_ERROR "${LIST} has no group '${group}'")
  endif()
endforeach()
file(WRITE "${OUTPUT}" "${words}")
