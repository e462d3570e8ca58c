# Reads the project's facts (facts/*.txt), each said once there: one row a
# line, columns separated by blanks, "#" comments and blank lines skipped.
#   autorun_fact_column(languages 2 locales)   the second column of each row
#   autorun_fact_column(languages 2 locales WHERE 3 test)   ... of rows whose third column is "test"
# The last column may hold blanks; only the columns before it are read here.
function(autorun_fact_column name column out)
  cmake_parse_arguments(PARSE_ARGV 3 arg "" "" "WHERE")
  set(file ${PROJECT_SOURCE_DIR}/facts/${name}.txt)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  file(STRINGS ${file} rows REGEX "^[ \t]*[^# \t]")
  set(values "")
  foreach(row IN LISTS rows)
    string(REGEX REPLACE "[ \t]+" ";" fields "${row}")
    if(arg_WHERE)
      list(GET arg_WHERE 0 where_column)
      list(GET arg_WHERE 1 where_value)
      math(EXPR where_index "${where_column} - 1")
      list(GET fields ${where_index} value)
      if(NOT value STREQUAL where_value)
        continue()
      endif()
    endif()
    math(EXPR index "${column} - 1")
    list(GET fields ${index} value)
    list(APPEND values ${value})
  endforeach()
  if(NOT values)
    message(FATAL_ERROR "facts/${name}.txt: no rows")
  endif()
  set(${out} ${values} PARENT_SCOPE)
endfunction()

# pinned_files.h in `folder`, from facts/pins.txt: the pinned files' enum, in
# the record's order, the names the menu opens them by, and the record's
# magic and entry layout. The menu (services/pins.cpp), its flows, the disc's
# content check and the kit include it; the Python side reads the same file
# through tools/facts.py.
function(autorun_pinned_files_header folder)
  autorun_fact_column(pins 2 magic WHERE 1 magic)
  autorun_fact_column(pins 3 magic_length WHERE 1 magic)
  autorun_fact_column(pins 2 digest_length WHERE 1 digest)
  autorun_fact_column(pins 2 size_length WHERE 1 size)
  autorun_fact_column(pins 2 enums WHERE 1 file)
  autorun_fact_column(pins 3 names WHERE 1 file)
  string(LENGTH "${magic}" length)
  if(NOT length LESS magic_length OR NOT digest_length EQUAL 32 OR NOT size_length EQUAL 8)
    message(FATAL_ERROR "facts/pins.txt: the magic must leave at least one NUL in its length, the digest is a "
                        "SHA-256 (32) and the size 8 bytes")
  endif()
  set(AUTORUN_PIN_MAGIC "${magic}")
  set(AUTORUN_PIN_MAGIC_LENGTH ${magic_length})
  set(AUTORUN_PIN_DIGEST_LENGTH ${digest_length})
  set(AUTORUN_PIN_SIZE_LENGTH ${size_length})
  set(AUTORUN_PINNED_ENUM "")
  set(AUTORUN_PINNED_NAMES "")
  set(index 0)
  foreach(enum name IN ZIP_LISTS enums names)
    string(APPEND AUTORUN_PINNED_ENUM "    ${enum} = ${index},\n")
    string(APPEND AUTORUN_PINNED_NAMES "    \"${name}\",\n")
    math(EXPR index "${index} + 1")
  endforeach()
  set(AUTORUN_PINNED_COUNT ${index})
  file(CONFIGURE OUTPUT ${folder}/pinned_files.h @ONLY CONTENT
"// Made by cmake/autorun_facts.cmake from facts/pins.txt: the files a
// signed menu vouches for, in the order of the pin record, and the record's
// magic and entry layout.
#pragma once

enum PinnedFile {
@AUTORUN_PINNED_ENUM@};

const int PinnedFileCount = @AUTORUN_PINNED_COUNT@;

// The name the menu opens each file by in the disc folder (any case).
inline constexpr const char* PinnedFileNames[PinnedFileCount] = {
@AUTORUN_PINNED_NAMES@};

// The record starts with this text, NULs filling it up to its length; used
// once, where the record is defined, so that the program file holds it once.
#define AUTORUN_PIN_MAGIC \"@AUTORUN_PIN_MAGIC@\"
const int PinMagicLength = @AUTORUN_PIN_MAGIC_LENGTH@;
// Each entry: the file's SHA-256, then its size, little-endian.
const int PinDigestLength = @AUTORUN_PIN_DIGEST_LENGTH@;
const int PinSizeLength = @AUTORUN_PIN_SIZE_LENGTH@;
")
endfunction()

# What the menu changes on a machine (facts/machine-changes.txt) as a C++
# header at OUT: the install record's root key, the record's key and value
# (below HKEY_LOCAL_MACHINE) and the codec's file name.
#   autorun_machine_changes_header(${CMAKE_CURRENT_BINARY_DIR}/machine_changes.h)
function(autorun_machine_changes_header out)
  set(file ${PROJECT_SOURCE_DIR}/facts/machine-changes.txt)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  file(STRINGS ${file} rows REGEX "^[ \t]*[^# \t]")
  foreach(row IN LISTS rows)
    if(NOT row MATCHES "^[ \t]*([^ \t]+)[ \t]+(.*[^ \t])[ \t]*$")
      message(FATAL_ERROR "facts/machine-changes.txt: not a row: ${row}")
    endif()
    set(kind ${CMAKE_MATCH_1})
    # Backslashes as a C string writes them.
    string(REPLACE "\\" "\\\\" value "${CMAKE_MATCH_2}")
    if(kind STREQUAL "install-record")
      if(NOT value MATCHES "^(.*[^ \t])[ \t]+([^ \t]+)$")
        message(FATAL_ERROR "facts/machine-changes.txt: install-record needs a key and a value")
      endif()
      set(AUTORUN_INSTALL_RECORD "${CMAKE_MATCH_1}")
      set(AUTORUN_INSTALL_VALUE "${CMAKE_MATCH_2}")
    elseif(kind STREQUAL "install-root")
      set(AUTORUN_INSTALL_ROOT "${value}")
    elseif(kind STREQUAL "codec-file")
      set(AUTORUN_CODEC_FILE "${value}")
    endif()
  endforeach()
  if(NOT AUTORUN_INSTALL_ROOT OR NOT AUTORUN_INSTALL_RECORD OR NOT AUTORUN_CODEC_FILE)
    message(FATAL_ERROR "facts/machine-changes.txt: install-root, install-record and codec-file are needed")
  endif()
  file(CONFIGURE OUTPUT ${out} @ONLY CONTENT
"// Made by cmake/autorun_facts.cmake from facts/machine-changes.txt: what the
// menu changes on a machine, which the tests make and remove again.
#pragma once

// Registry keys below HKEY_LOCAL_MACHINE, in the view of the menu's bitness.
inline constexpr char kInstallRoot[] = \"@AUTORUN_INSTALL_ROOT@\";
inline constexpr char kInstallRecord[] = \"@AUTORUN_INSTALL_RECORD@\";
inline constexpr char kInstallValue[] = \"@AUTORUN_INSTALL_VALUE@\";
// The codec library's name in the system folders.
inline constexpr char kCodecFile[] = \"@AUTORUN_CODEC_FILE@\";
")
endfunction()
