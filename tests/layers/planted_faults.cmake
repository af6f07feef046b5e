# Plants one include of every forbidden kind, beside allowed ones, in a small tree of its own,
# runs the include check on it, and fails unless the check fails naming exactly the planted ones.
#   cmake -DWORK=<empty folder to use> -DCHECK=<check_includes.cmake> -P planted_faults.cmake

cmake_minimum_required(VERSION 3.25)

# Each entry: file|include line|what the check must say, or "" where it must say nothing.
set(cases
    "core/sql.cpp|#include <sqlite3.h>|SQLite belongs to platform/"
    "scan/text.h|#include <QString>|Qt belongs to platform/"
    "diagnostics/ctx.cpp|#include <boost/context/fiber.hpp>|Boost belongs to platform/"
    "ui/main/digest.cpp|#include <openssl/evp.h>|OpenSSL belongs to platform/"
    "app/crc.cpp|#include \"zlib.h\"|zlib belongs to platform/"
    "core/up.cpp|#include \"ui/main/window1.h\"|a header of a higher layer"
    "diagnostics/down.cpp|#include \"scan/loadthread.h\"|a header of a higher layer"
    "platform/database_extra.cpp|#include \"platform/listbox.h\"|the framework's base includes a widget"
    "platform/thread_gui.cpp|#include <QtWidgets/QWidget>|the framework's base includes Qt's widgets"
    "scan/probe.cpp|#include \"tests/support/testsupport.h\"|test code in the product"
    "tests/core/peek_test.cpp|#include \"ui/main/window1.h\"|a header of a higher layer"
    "tests/scan/widget_test.cpp|#include <QPushButton>|Qt belongs to platform/"
    "tests/core/other_test.cpp|#include \"tests/scan/scantest.h\"|another test program's header"
    "platform/window_more.cpp|#include <QWidget>|"
    "platform/listbox_more.cpp|#include \"platform/database.h\"|"
    "platform/database_more.cpp|#include <sqlite3.h>|"
    "ui/main/ok.cpp|#include \"scan/loadthread.h\"|"
    "core/clean.cpp|#include \"platform/folderitem.h\"|"
    "tests/platform/ok_test.cpp|#include <QTreeView>|"
    "tests/platform/db_test.cpp|#include <sqlite3.h>|"
    "tests/ui_main/ok_test.cpp|#include <QTest>|"
    "tests/ui_main/own_test.cpp|#include \"tests/ui_main/helper.h\"|"
    "tests/scan/support_test.cpp|#include \"tests/support/testsupport.h\"|"
    "bench/ok_bench.cpp|#include <benchmark/benchmark.h>|"
    "bench/view_bench.cpp|#include <QTreeView>|"
    "bench/bare_bench.cpp|#include <sqlite3.h>|")

file(REMOVE_RECURSE ${WORK})
foreach(entry IN LISTS cases)
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 path)
    list(GET parts 1 line)
    file(WRITE ${WORK}/${path} "#pragma once\n${line}\n#include <vector>\n")
endforeach()

execute_process(COMMAND ${CMAKE_COMMAND} -DTLM_ROOT=${WORK} -P ${CHECK}
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(result EQUAL 0)
    message(FATAL_ERROR "the check passed a tree with planted faults:\n${out}${err}")
endif()
string(REGEX REPLACE "\n[ \t]*\n" "\n" err "${err}") # CMake wraps the message in blank lines

set(failures "")
set(expected 0)
foreach(entry IN LISTS cases)
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 path)
    list(GET parts 1 line)
    list(LENGTH parts n)
    set(verdict "")
    if(n GREATER 2)
        list(GET parts 2 verdict)
    endif()
    string(FIND "${err}" "${path}: " named)
    if(verdict)
        math(EXPR expected "${expected} + 1")
        string(FIND "${err}" "${path}: ${line}: ${verdict}" said)
        if(said LESS 0)
            string(APPEND failures "\n  not reported as it should be: ${path}: ${line}: ${verdict}")
        endif()
    elseif(named GREATER_EQUAL 0)
        string(APPEND failures "\n  reported though allowed: ${path}: ${line}")
    endif()
endforeach()
string(REGEX MATCHALL "\n  [^\n]+: #include [^\n]+" reported "${err}")
list(LENGTH reported count)
if(NOT count EQUAL expected)
    string(APPEND failures "\n  ${count} faults reported, ${expected} planted")
endif()
if(failures)
    message(FATAL_ERROR "The include check misjudged the planted tree:${failures}\n\nIt said:\n${err}")
endif()
message(STATUS "The include check reported each of the ${expected} planted faults and no more")
