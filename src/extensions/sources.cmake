# Sources of src/extensions: QV_CORE_SOURCES (pure), QV_PLATFORM_SOURCES, QV_APP_SOURCES (GTK/WebKit).
list(APPEND QV_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/extension_address.cpp
    ${CMAKE_CURRENT_LIST_DIR}/extension_manifest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/extension_permissions.cpp
    ${CMAKE_CURRENT_LIST_DIR}/extension_storage.cpp
    ${CMAKE_CURRENT_LIST_DIR}/extension_events.cpp
    ${CMAKE_CURRENT_LIST_DIR}/user_activity_limiter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/extension_network.cpp
    ${CMAKE_CURRENT_LIST_DIR}/extension_source.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bridge_reply.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_read_limits.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bridge_page_scripts.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bridge_dispatcher.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bridge_actions_page.cpp
    ${CMAKE_CURRENT_LIST_DIR}/extension_runtime_rules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/extension_installation_rules.cpp
)
list(APPEND QV_APP_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/extension_service.cpp
    ${CMAKE_CURRENT_LIST_DIR}/activity_reporter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bridge_host_adapter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/extension_manager_views.cpp
    ${CMAKE_CURRENT_LIST_DIR}/extension_manager_window.cpp
    ${CMAKE_CURRENT_LIST_DIR}/extension_installation.cpp
    ${CMAKE_CURRENT_LIST_DIR}/extension_source_window.cpp
)
