# Feeds NEWS.md's reader files it must refuse, and checks that each stops it with a message that
# names the line it could not read.
# usage: cmake -DNEWS_READER=packaging/news.cmake -DWORK=FOLDER -P check_news.cmake
cmake_minimum_required(VERSION 3.25)

if(DEFINED NEWS)
  # One reading, in a CMake of its own, since a refusal ends the CMake that reads.
  set(KAVONI_DISPLAY_VERSION 1.01)
  include("${NEWS_READER}")
  kavoni_read_news("${NEWS}" "Someone <someone@example.org>")
  return()
endif()

set(head "# Release notes\n\nSome words about the file.\n\n")
set(changes "- One change.\n- Another change.\n")
# Each case: a name, the file's text, the line to be named, and what the message says of it.
set(cases
  wrapped_change "${head}## 1.01 (2026-12-08)\n\n- A change wrapped\n  onto a second line.\n" 8
    "not a change"
  star_bullet "${head}## 1.01 (2026-12-08)\n\n* A change with a star.\n" 7 "not a change"
  short_date "${head}## 1.01 (2026-1-8)\n\n${changes}" 5 "not YYYY-MM-DD"
  no_such_day "${head}## 1.01 (2026-12-08)\n\n${changes}\n## 1.00 (2025-02-29)\n\n${changes}" 10
    "has no day 29"
  no_such_month "${head}## 1.01 (2026-13-08)\n\n${changes}" 5 "has no month 13"
  heading_without_date "${head}## 1.01\n\n${changes}" 5 "not a release heading"
  long_change "${head}## 1.01 (2026-12-08)\n\n${changes}- ×××××××××××××××××××××××××××××××××××××××××××××××××××××××××××××××××××××××××××××\n" 9
    "77 characters, over 76"
  empty_release "${head}## 1.01 (2026-12-08)\n\n## 1.00 (2025-12-08)\n\n${changes}" 7
    "lists no change"
  text_after_changes "${head}## 1.01 (2026-12-08)\n\n${changes}\nA closing remark.\n" 10 "not a change")

set(failures 0)
list(LENGTH cases length)
math(EXPR last "${length} - 1")
foreach(index RANGE 0 ${last} 4)
  math(EXPR at_text "${index} + 1")
  math(EXPR at_line "${index} + 2")
  math(EXPR at_words "${index} + 3")
  list(GET cases ${index} name)
  list(GET cases ${at_text} text)
  list(GET cases ${at_line} line)
  list(GET cases ${at_words} words)
  set(file "${WORK}/${name}.md")
  file(WRITE "${file}" "${text}")
  execute_process(
    COMMAND "${CMAKE_COMMAND}" "-DNEWS=${file}" "-DNEWS_READER=${NEWS_READER}"
      -P "${CMAKE_CURRENT_LIST_FILE}"
    RESULT_VARIABLE status ERROR_VARIABLE message OUTPUT_QUIET)
  string(REGEX REPLACE "[ \n]+" " " message "${message}")
  if(status EQUAL 0)
    message(SEND_ERROR "${name}: read without complaint")
  elseif(NOT message MATCHES "${name}\\.md:${line}: [^\n]*${words}")
    message(SEND_ERROR "${name}: wanted line ${line} and '${words}', got: ${message}")
  else()
    message(STATUS "${name}: refused at line ${line}")
  endif()
endforeach()
