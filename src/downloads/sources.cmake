# Sources of src/downloads: QV_CORE_SOURCES (pure), QV_PLATFORM_SOURCES, QV_APP_SOURCES (GTK/WebKit).
list(APPEND QV_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/download_store.cpp
    ${CMAKE_CURRENT_LIST_DIR}/download_files.cpp
    ${CMAKE_CURRENT_LIST_DIR}/download_permission_rules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/download_progress.cpp
)
list(APPEND QV_APP_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/download_service.cpp
    ${CMAKE_CURRENT_LIST_DIR}/downloads_window.cpp
    ${CMAKE_CURRENT_LIST_DIR}/download_bar.cpp
    ${CMAKE_CURRENT_LIST_DIR}/downloads_button.cpp
)
