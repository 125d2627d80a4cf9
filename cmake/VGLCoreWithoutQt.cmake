# Fails when a file of the core names a Qt header: the core is plain C++,
# built and tested where Qt is not even installed. Run when the build is
# configured (included with VGL_CORE_DIR set) and by the test "core/no-qt"
# (cmake -DVGL_CORE_DIR=... -P), so a Qt include added after configuring
# still fails `make test`.
if(NOT VGL_CORE_DIR)
    message(FATAL_ERROR "VGL_CORE_DIR is not set")
endif()
file(GLOB_RECURSE vgl_core_files "${VGL_CORE_DIR}/*.h" "${VGL_CORE_DIR}/*.cpp")
set(vgl_qt_includes)
foreach(vgl_file IN LISTS vgl_core_files)
    # Qt's headers are <QName>, <QtModule/...> or <qname.h>.
    file(STRINGS "${vgl_file}" vgl_lines
         REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](Q[A-Za-z]+|Qt[A-Za-z]*/[^>\"]*|q[a-z]+\\.h)[>\"]")
    foreach(vgl_line IN LISTS vgl_lines)
        file(RELATIVE_PATH vgl_name "${VGL_CORE_DIR}/../.." "${vgl_file}")
        string(STRIP "${vgl_line}" vgl_line)
        list(APPEND vgl_qt_includes "  ${vgl_name}: ${vgl_line}")
    endforeach()
endforeach()
if(vgl_qt_includes)
    list(JOIN vgl_qt_includes "\n" vgl_report)
    message(FATAL_ERROR "The core must not use Qt, but these files include Qt headers:\n${vgl_report}")
endif()
