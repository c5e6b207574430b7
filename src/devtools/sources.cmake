# Sources of src/devtools: QV_CORE_SOURCES (pure), QV_PLATFORM_SOURCES, QV_APP_SOURCES (GTK/WebKit).
list(APPEND QV_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/page_source_rules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/local_copy_rules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/local_copy_references.cpp
    ${CMAKE_CURRENT_LIST_DIR}/local_copy_cookies.cpp
    ${CMAKE_CURRENT_LIST_DIR}/script_console_rules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/script_highlighting.cpp
    ${CMAKE_CURRENT_LIST_DIR}/local_copy_scheme_rules.cpp
)
list(APPEND QV_PLATFORM_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/local_copy_download.cpp
)
list(APPEND QV_APP_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/devtools_service.cpp
    ${CMAKE_CURRENT_LIST_DIR}/local_copy_scheme.cpp
    ${CMAKE_CURRENT_LIST_DIR}/script_editor_view.cpp
    ${CMAKE_CURRENT_LIST_DIR}/script_console_window.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_source_window.cpp
)
