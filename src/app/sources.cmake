# Sources of src/app.
list(APPEND QV_APP_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/launch.cpp
    ${CMAKE_CURRENT_LIST_DIR}/command_line.cpp
    ${CMAKE_CURRENT_LIST_DIR}/main_menu.cpp
    ${CMAKE_CURRENT_LIST_DIR}/shell.cpp
    ${CMAKE_CURRENT_LIST_DIR}/controller_windows.cpp
    ${CMAKE_CURRENT_LIST_DIR}/browser_window.cpp
    ${CMAKE_CURRENT_LIST_DIR}/view_helpers.cpp
    ${CMAKE_CURRENT_LIST_DIR}/auxiliary_window.cpp
    ${CMAKE_CURRENT_LIST_DIR}/settings_window.cpp
    ${CMAKE_CURRENT_LIST_DIR}/row_list_model.cpp
    ${CMAKE_CURRENT_LIST_DIR}/web_views.cpp
    ${CMAKE_CURRENT_LIST_DIR}/find_bar.cpp
    ${CMAKE_CURRENT_LIST_DIR}/window_bar.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_commands.cpp
)
list(APPEND QV_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/command_line_rules.cpp
)
