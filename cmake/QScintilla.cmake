# QScintilla for Qt 6, as Debian ships it (libqscintilla2-qt6-dev): no CMake package of its own,
# so the header and the library are found by name.
if(NOT TARGET QScintilla::QScintilla)
    find_path(QSCINTILLA_INCLUDE_DIR Qsci/qsciscintilla.h
        PATH_SUFFIXES qt6 x86_64-linux-gnu/qt6 aarch64-linux-gnu/qt6
        HINTS ${Qt6_DIR}/../../../../include/${CMAKE_LIBRARY_ARCHITECTURE}/qt6)
    find_library(QSCINTILLA_LIBRARY NAMES qscintilla2_qt6)
    if(NOT QSCINTILLA_INCLUDE_DIR OR NOT QSCINTILLA_LIBRARY)
        message(FATAL_ERROR "QScintilla for Qt 6 not found (Debian: libqscintilla2-qt6-dev)")
    endif()
    add_library(QScintilla::QScintilla UNKNOWN IMPORTED)
    set_target_properties(QScintilla::QScintilla PROPERTIES
        IMPORTED_LOCATION ${QSCINTILLA_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES ${QSCINTILLA_INCLUDE_DIR}
        INTERFACE_LINK_LIBRARIES "Qt6::Widgets")
    # QScintilla's headers are not ours: their warnings are not for this build to fix.
    set_property(TARGET QScintilla::QScintilla PROPERTY INTERFACE_SYSTEM_INCLUDE_DIRECTORIES
        ${QSCINTILLA_INCLUDE_DIR})
endif()
