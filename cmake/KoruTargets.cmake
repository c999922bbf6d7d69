# Helpers that give every target of ours the same warnings, headers and precompiled Qt headers.

set(KORU_WARNINGS -Wall -Wextra -Wpedantic -Werror -Wno-multichar)

# One precompiled-header target; every library and test reuses it (same flags everywhere).
add_library(koru_pch STATIC ${CMAKE_SOURCE_DIR}/cmake/pch.cpp)
target_link_libraries(koru_pch PUBLIC Qt6::Core Qt6::Gui Qt6::Widgets)
target_compile_options(koru_pch PRIVATE ${KORU_WARNINGS})
target_precompile_headers(koru_pch PRIVATE
    <QtCore/QByteArray> <QtCore/QDateTime> <QtCore/QObject> <QtCore/QString>
    <QtCore/QVariant> <QtCore/QVariantMap> <QtCore/QVariantList>
    <QtGui/QColor> <QtGui/QPainter> <QtWidgets/QWidget>
    <algorithm> <atomic> <cstdint> <functional> <map> <memory> <mutex> <string> <vector>)
set_target_properties(koru_pch PROPERTIES AUTOMOC OFF)

function(koru_apply_defaults target)
    target_compile_options(${target} PRIVATE ${KORU_WARNINGS})
    target_precompile_headers(${target} REUSE_FROM koru_pch)
endfunction()

# koru_library(name DEPS ... [EXCLUDE file...]): a static library of every .cpp/.h below the
# current folder, less the excluded files (a program's main.cpp).
function(koru_library name)
    cmake_parse_arguments(ARG "" "" "DEPS;EXCLUDE" ${ARGN})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    foreach(excluded IN LISTS ARG_EXCLUDE)
        list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
    endforeach()
    list(FILTER sources INCLUDE REGEX "\\.cpp$")
    if(NOT sources)
        # A folder whose code has not landed yet: an interface target keeps the graph whole.
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR}/src)
        target_link_libraries(${name} INTERFACE ${ARG_DEPS})
        return()
    endif()
    file(GLOB_RECURSE all CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    foreach(excluded IN LISTS ARG_EXCLUDE)
        list(REMOVE_ITEM all ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
    endforeach()
    add_library(${name} STATIC ${all})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    koru_apply_defaults(${name})
endfunction()

# koru_test_folder(name DEPS ...): one GoogleTest program of every *_test.cpp in the folder,
# each test registered with CTest.
function(koru_test_folder name)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    if(NOT sources)
        return()
    endif()
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} koru_testsupport GTest::gtest GTest::gmock)
    koru_apply_defaults(${name})
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KORU_AUDIO_API=virtual")
endfunction()
