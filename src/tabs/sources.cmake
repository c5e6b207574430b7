# Sources of src/tabs.
list(APPEND QV_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/tab_model.cpp
    ${CMAKE_CURRENT_LIST_DIR}/activity_rules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/favicon_rules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tab_shortcut_rules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/memory_pressure_rules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_close_rules.cpp
)
list(APPEND QV_APP_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/tab.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tab_list.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tab_service.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tab_web_views.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tab_strip_view.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tab_context_button.cpp
    ${CMAKE_CURRENT_LIST_DIR}/activity_window.cpp
    ${CMAKE_CURRENT_LIST_DIR}/favicons.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tab_memory_guard.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_close_asker.cpp
)
