# Refuses an include that looks up or sideways: every file below SOURCE_DIR includes, besides the
# files of its own folder, only from the folders its rule names.
#   cmake -DSOURCE_DIR=<src> -P check_layers.cmake
# A folder with no rule is refused too, so that a new folder is placed in the layers on purpose.

# Pairs: a folder (a regular expression over a file's folder below SOURCE_DIR) and the folders its
# files may include from. The first rule whose folder matches applies.
set(support "platform/linux/support/[^/]+")
# The ports and the stand-ins that do what a port does where nothing backs it.
set(ports "ports(/standins)?")
set(rules
  "base"                          "-"
  "protocol"                      "base"
  "ports"                         "base|protocol"
  "ports/standins"                "base|protocol|ports"
  "perf"                          "base|protocol|${ports}"
  "store"                         "base|protocol|${ports}"
  "core"                          "base|protocol|${ports}|store"
  "core/input"                    "base|protocol|${ports}"
  "core/desktop"                  "base|protocol|${ports}"
  "core/screen"                   "base|protocol|${ports}|core|core/desktop"
  "core/recording"                "base|protocol|${ports}|core/input|core/desktop"
  "core/session"                  "base|protocol|${ports}|perf|store|core|core/input|core/desktop|core/screen"
  "transport"                     "base|protocol|${ports}|store|core"
  "testing"                       "base|protocol|${ports}|perf|store|core(/[^/]+)?"
  "${support}"                    "base|protocol|${ports}|${support}"
  "platform/linux/services/[^/]+" "base|protocol|${ports}|store|${support}"
  "platform/linux/desktop/[^/]+"  "base|protocol|${ports}|store|core/desktop|${support}"
  "platform/linux/factory"        "base|protocol|${ports}|store|core/recording|platform/linux/(support|services|desktop)/[^/]+"
  "app"                           "base|protocol|${ports}|perf|store|core(/[^/]+)?|transport|platform/linux/factory|${support}|app/widgets"
  "app/widgets"                   "base|protocol|${ports}|perf|store|core(/[^/]+)?|transport|app"
  "tools"                         "base|protocol"
)

cmake_minimum_required(VERSION 3.25)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "check_layers.cmake needs -DSOURCE_DIR=<folder>")
endif()
file(GLOB tops LIST_DIRECTORIES true RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*.h ${SOURCE_DIR}/*.cpp)
list(SORT files)
list(LENGTH rules count)
math(EXPR last "${count} - 1")

set(refused "")
foreach(file ${files})
  get_filename_component(folder ${file} DIRECTORY)
  set(allowed "")
  foreach(i RANGE 0 ${last} 2)
    list(GET rules ${i} pattern)
    if(folder MATCHES "^(${pattern})$")
      math(EXPR j "${i} + 1")
      list(GET rules ${j} allowed)
      break()
    endif()
  endforeach()
  if(allowed STREQUAL "")
    string(APPEND refused "  ${file}: its folder ${folder} has no place in the layers\n")
    continue()
  endif()
  file(STRINGS ${SOURCE_DIR}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+/[^\"]+\"")
  foreach(line ${lines})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" included "${line}")
    string(REGEX MATCH "^[^/]+" top "${included}")
    if(NOT top IN_LIST tops)
      continue()  # a library's header, not ours
    endif()
    get_filename_component(from ${included} DIRECTORY)
    if(NOT from STREQUAL folder AND NOT from MATCHES "^(${allowed})$")
      string(APPEND refused "  ${file}: includes ${included}, but ${folder} may include only from ${allowed}\n")
    endif()
  endforeach()
endforeach()

if(refused)
  message(FATAL_ERROR "Includes that do not look down (see docs/ARCHITECTURE.md):\n${refused}")
endif()
